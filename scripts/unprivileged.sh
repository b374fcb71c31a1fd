#!/usr/bin/env bash
# unprivileged.sh <build-dir>: runs the link and loader test programs, and the
# settings-file tests, as a plain user. Root never sees the exclusive-open flag
# of a pseudo-terminal outlive a close, and writes read-only files; a
# technician's account does neither, so the tests must pass there.
set -euo pipefail
build=${1:?build dir}
[ "$(id -u)" -eq 0 ] || { echo "unprivileged: already a plain user, running directly"; }
user=kl31test
if [ "$(id -u)" -eq 0 ] && ! id "$user" >/dev/null 2>&1; then
  useradd --create-home --shell /bin/bash "$user"
fi
work=$(mktemp -d /tmp/kl31-unpriv.XXXXXX)
found=0
for t in "$build"/bin/link_tests "$build"/bin/loader_tests "$build"/bin/window_core_tests "$build"/bin/virtual_sensor "$build"/bin/virtual_loader "$build"/bin/kl31_probe; do
  [ -x "$t" ] && { cp "$t" "$work/"; found=1; }
done
chmod -R a+rX "$work"
[ $found -eq 1 ] || { echo "unprivileged: no test programs found"; exit 0; }
status=0
# The settings-file tests only: the others read the shipped resources from
# the source tree, which a plain user may not be allowed to enter.
declare -A filter=([link_tests]='*' [loader_tests]='*' [window_core_tests]='ConfigFilesTest.*:LanguageChoiceTest.*:IniRead.*:IniWrite.*:TextEncoding.*')
for t in link_tests loader_tests window_core_tests; do
  [ -x "$work/$t" ] || continue
  echo "--- $t as $user"
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$user" -- env -C "$work" HOME="/home/$user" QT_QPA_PLATFORM=offscreen KL31_TOOLS_DIR="$work" "./$t" --gtest_brief=1 --gtest_filter="${filter[$t]}" || status=1
  else
    (cd "$work" && KL31_TOOLS_DIR="$work" "./$t" --gtest_brief=1 --gtest_filter="${filter[$t]}") || status=1
  fi
done
rm -rf "$work"
exit $status
