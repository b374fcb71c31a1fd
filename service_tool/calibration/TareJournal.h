// The unfinished-calibration journal: the rows of the calibration window,
// saved after every change, so that an hour of filling survives a closed
// window, a crash or a pulled cable. A completed OK removes it; the next
// opening of the window for the user's own tank offers it back.
//
// The file is small text: a heading, the decimal separator the texts were
// written with, the row count, one line per row (litres and millimetre
// texts, tab-separated, escaped) and a checksum of everything before it.
// It is replaced as a whole (temporary file, then rename), and a file that
// is damaged, truncated or too large is not offered at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "NumberText.h"
#include "TareRows.h"

namespace kl {

inline constexpr const char* kTareJournalFileName = "KL31_Install_Service.tare_journal";
// Bounds of what is read back: a journal is written by us and holds at most
// a spreadsheet's worth of rows.
inline constexpr std::size_t kTareJournalMaxBytes = 4u << 20;
inline constexpr int kTareJournalMaxRows = 65536;
inline constexpr std::size_t kTareJournalMaxCell = 256;

// The journal's path in a folder (the folder of the settings file).
std::string TareJournalPath(const std::string& folder);

// The file's bytes for these rows (row numbers are not kept; they are
// rewritten on reading). Cells longer than kTareJournalMaxCell are cut.
std::string TareJournalEncode(const TareRows& rows);
// The rows of a journal, their texts turned into `current` notation when the
// journal was written with another decimal separator; nothing for a damaged
// or foreign file.
std::optional<TareRows> TareJournalDecode(std::string_view bytes, const NumberLocale& current);

// Saves atomically; on failure the previous journal stays and error (if
// given) says why.
bool TareJournalSave(const std::string& folder, const TareRows& rows, std::string* error = nullptr);
std::optional<TareRows> TareJournalLoad(const std::string& folder, const NumberLocale& current);
// True when no journal is left (removed, or there was none).
bool TareJournalRemove(const std::string& folder);

// Whether a journal is worth offering over the rows the window shows: it
// holds some text, and its litres and millimetres differ from those rows.
bool TareJournalWorthOffering(const TareRows& journal, const TareRows& shown);

}  // namespace kl
