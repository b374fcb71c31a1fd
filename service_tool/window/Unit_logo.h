// The splash window: the logo fades in while the program starts, then the
// main window appears and the splash closes.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "WindowRules.h"

namespace kl {

class TForm_Logo : public QWidget {
  Q_OBJECT
 public:
  // showMain is called on the tick that ends the fade, before the splash closes.
  TForm_Logo(QWidget* owner, std::function<void()> showMain);

  const SplashFade& Fade() const { return fade_; }
  QLabel* ImgLogo() const { return imgLogo_; }
  QTimer* Timer1() const { return timer1_; }

 private:
  void OnTick();

  QLabel* imgLogo_;
  QTimer* timer1_;
  SplashFade fade_;
  bool canFade_ = true;
  std::function<void()> showMain_;
};

}  // namespace kl
