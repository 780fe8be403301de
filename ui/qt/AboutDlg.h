// AboutDlg: the small about box of the player's About entry. Its "OK" button is
// both the default (Enter) and the cancel button (Escape).
//
// Threads: the toolkit's thread only.
#pragma once

#include <QDialog>

class QLabel;

namespace sn::ui::qt {

// The white panel with the logo and the four about labels, shared by the about
// box and the settings window's About tab. The labels are left empty.
class AboutPanel : public QWidget {
 public:
  explicit AboutPanel(QWidget* parent = nullptr);
  QLabel* description;
  QLabel* copyright;
  QLabel* web;
  QLabel* built;
};

class AboutDlg : public QDialog {
 public:
  explicit AboutDlg(QWidget* parent = nullptr);
};

}  // namespace sn::ui::qt
