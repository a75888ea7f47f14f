// A soft drop shadow around a frameless window, drawn by a translucent
// window of its own that follows its owner (moves, resizes, shows and hides
// with it) and lets every mouse event through. Object name "CLumenShadowWnd".
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

namespace corvyn::ui {

class CWndShadow : public QWidget {
 public:
  // The look the main window uses.
  static constexpr int kDefaultSize = 4;
  static constexpr int kDefaultDarkness = 120;  // alpha next to the window, 0..255
  static constexpr QRgb kDefaultColor = 0x2D2D2D;

  CWndShadow();
  ~CWndShadow() override;

  // Attaches to `owner` (not owned; the shadow forgets it when it is
  // destroyed). Size 0 to 20 pixels, darkness 0 to 255; values outside are
  // clamped.
  void Create(QWidget* owner, int size = kDefaultSize, int offsetX = 0, int offsetY = 0,
              int darkness = kDefaultDarkness, QColor color = QColor(kDefaultColor));

  int ShadowSize() const { return size_; }
  int Darkness() const { return darkness_; }
  QColor Color() const { return color_; }
  QWidget* Owner() const { return owner_; }

  // The rectangle the shadow covers for an owner at `ownerGeometry`.
  QRect GeometryFor(const QRect& ownerGeometry) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Follow();

  QPointer<QWidget> owner_;
  int size_ = kDefaultSize;
  int offsetX_ = 0;
  int offsetY_ = 0;
  int darkness_ = kDefaultDarkness;
  QColor color_{kDefaultColor};
};

}  // namespace corvyn::ui
