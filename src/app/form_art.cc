#include "app/form_art.h"

#include <QColor>
#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

namespace hj5 {
namespace {

const QColor kPanelTop(0x2e, 0x75, 0xb6);
const QColor kPanelBottom(0x1f, 0x4e, 0x79);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kInk(0x1f, 0x4e, 0x79);
const QColor kArrow(0x3c, 0xb0, 0x43);

// Draws the icon in a 64 x 64 design space; the painter is scaled to fit.
void PaintIcon(QPainter& p) {
  QLinearGradient panel(0, 4, 0, 60);
  panel.setColorAt(0, kPanelTop);
  panel.setColorAt(1, kPanelBottom);
  p.setPen(Qt::NoPen);
  p.setBrush(panel);
  p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);

  // The document with a folded corner.
  QPainterPath sheet;
  sheet.moveTo(14, 10);
  sheet.lineTo(34, 10);
  sheet.lineTo(42, 18);
  sheet.lineTo(42, 46);
  sheet.lineTo(14, 46);
  sheet.closeSubpath();
  p.setBrush(kPaper);
  p.drawPath(sheet);

  // "< >" on the document.
  QPen ink(kInk, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(ink);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({{24, 22}, {19, 28}, {24, 34}}));
  p.drawPolyline(QPolygonF({{32, 22}, {37, 28}, {32, 34}}));

  // The download arrow in a green disc.
  p.setPen(Qt::NoPen);
  p.setBrush(kArrow);
  p.drawEllipse(QPointF(44, 44), 13, 13);
  p.setPen(QPen(kPaper, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(44, 36), QPointF(44, 51));
  p.drawPolyline(QPolygonF({{38, 45}, {44, 51}, {50, 45}}));
}

// Paints the icon at whatever size is asked for, when it is asked for: no
// pixmap is drawn at start-up.
class ToolIconEngine final : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode,
             QIcon::State) override {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.topLeft());
    painter->scale(rect.width() / 64.0, rect.height() / 64.0);
    PaintIcon(*painter);
    painter->restore();
  }
  QIconEngine* clone() const override { return new ToolIconEngine; }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    return {{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
  }
};

// Draws the logo in a 46 x 20 design space: a ring with a tail (the "Q")
// and three bars standing for the maker's name.
void PaintLogo(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kPanelBottom);
  p.drawRoundedRect(QRectF(0, 0, 46, 20), 3, 3);
  p.setPen(QPen(kPaper, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(10, 10), 5.5, 5.5);
  p.drawLine(QPointF(12.5, 12.5), QPointF(16, 16));
  p.setPen(Qt::NoPen);
  p.setBrush(kPaper);
  p.drawRect(QRectF(20, 5, 21, 2.5));
  p.setBrush(kArrow);
  p.drawRect(QRectF(20, 9, 15, 2.5));
  p.setBrush(kPaper);
  p.drawRect(QRectF(20, 13, 18, 2.5));
}

}  // namespace

QIcon ToolIcon() { return QIcon(new ToolIconEngine); }

QPixmap MakerLogo(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size.width() / 46.0, size.height() / 20.0);
  PaintLogo(p);
  return pixmap;
}

}  // namespace hj5
