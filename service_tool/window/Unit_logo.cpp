#include "Unit_logo.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "Pictures.h"

namespace kl {

TForm_Logo::TForm_Logo(QWidget* owner, std::function<void()> showMain)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint), showMain_(std::move(showMain)) {
  setObjectName("Form_Logo");
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(kLogoWidth, kLogoHeight);
  imgLogo_ = new QLabel(this);
  imgLogo_->setObjectName("ImgLogo");
  imgLogo_->setPixmap(QPixmap::fromImage(DrawLogo()));
  imgLogo_->setGeometry(0, 0, kLogoWidth, kLogoHeight);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect a = s->availableGeometry();
    move(a.center() - QPoint(kLogoWidth / 2, kLogoHeight / 2));
  }
  // Some platforms (the offscreen one of the tests) have no opacity; the
  // fade then only paces the start.
  canFade_ = QGuiApplication::platformName() != "offscreen";
  if (canFade_) setWindowOpacity(0.0);
  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setInterval(fade_.interval);
  connect(timer1_, &QTimer::timeout, this, &TForm_Logo::OnTick);
  show();
  timer1_->start();
}

void TForm_Logo::OnTick() {
  if (!fade_.Tick()) {
    if (canFade_) setWindowOpacity(fade_.opacity / 255.0);
    return;
  }
  timer1_->stop();
  if (showMain_) showMain_();
  close();
}

}  // namespace kl
