#include "ui/qt/Art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace sn::ui::qt {

namespace {

// Five loudspeakers round a listener: the centre on top, the fronts and the
// surrounds on an arc, drawn white on a blue square.
QPixmap Emblem(int size) {
  QPixmap p(size, size);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bg(0, 0, 0, size);
  bg.setColorAt(0, QColor(40, 90, 170));
  bg.setColorAt(1, QColor(15, 40, 95));
  g.setBrush(bg);
  g.setPen(Qt::NoPen);
  g.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
  const QPointF centre(size * 0.5, size * 0.58);
  const double r = size * 0.34;
  const double dot = size * 0.075;
  g.setBrush(Qt::white);
  for (double deg : {-90.0, -135.0, -45.0, 150.0, 30.0}) {
    const double a = deg * 3.14159265358979 / 180.0;
    g.drawEllipse(QPointF(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a)), dot, dot);
  }
  g.setBrush(QColor(255, 200, 60));
  g.drawEllipse(centre, dot * 1.2, dot * 1.2);
  return p;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int s : {16, 22, 32, 48, 64}) icon.addPixmap(Emblem(s));
  return icon;
}

QPixmap Logo() {
  QPixmap p(160, 64);
  p.fill(Qt::white);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.drawPixmap(4, 8, Emblem(48));
  QFont f(QStringLiteral("Sans Serif"));
  f.setPixelSize(20);
  f.setBold(true);
  g.setFont(f);
  g.setPen(QColor(25, 60, 130));
  g.drawText(QRect(58, 10, 100, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Sonavel"));
  f.setPixelSize(10);
  f.setBold(false);
  g.setFont(f);
  g.setPen(QColor(90, 90, 90));
  g.drawText(QRect(59, 34, 100, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("5.1 surround"));
  return p;
}

}  // namespace sn::ui::qt
