#include "ui/qt/AboutDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Texts.h"
#include "ui/qt/Art.h"

namespace sn::ui::qt {

AboutPanel::AboutPanel(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);

  auto* logo = new QLabel(this);
  logo->setPixmap(Logo());
  logo->setFixedSize(Logo().size());

  QFont small(QStringLiteral("Sans Serif"));
  small.setPointSizeF(8.25);
  auto label = [&] {
    auto* l = new QLabel(this);
    l->setFont(small);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  description = label();
  copyright = label();
  web = label();
  built = label();

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  for (QLabel* l : {description, copyright, web, built}) texts->addWidget(l);
  texts->addStretch();
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 10, 14, 10);
  row->setSpacing(12);
  row->addWidget(logo, 0, Qt::AlignTop);
  row->addLayout(texts, 1);
}

AboutDlg::AboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setWindowTitle(QString::fromStdU16String(kAboutTitle));
  setWindowIcon(AppIcon());
  auto* panel = new AboutPanel(this);
  panel->description->setText(QString::fromStdU16String(kDescription));
  panel->copyright->setText(QString::fromStdU16String(kCopyright));
  panel->web->setText(QString::fromStdU16String(kWebAddress));
  panel->built->setText(QString::fromStdU16String(BuiltOn()));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(10, 8, 10, 10);
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* col = new QVBoxLayout(this);
  col->setContentsMargins(0, 0, 0, 0);
  col->setSpacing(0);
  col->addWidget(panel);
  col->addLayout(buttons);
  col->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace sn::ui::qt
