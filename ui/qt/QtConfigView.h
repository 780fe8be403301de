// The settings window, its status line and the notification icon as Qt 6
// widgets: a ConfigView for ConfigDlg. It holds no behaviour of its own; every
// user edit is forwarded to the ConfigViewEvents, and every Set* call is made
// with the widget's signals blocked, so it never comes back as an edit.
//
// Threads: the toolkit's thread only (the thread that owns QApplication).
#pragma once

#include <QDialog>

#include <array>
#include <functional>

#include "ui/ConfigView.h"

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;

namespace sn::ui::qt {

class AboutPanel;

class QtConfigView final : public QDialog, public ConfigView {
 public:
  QtConfigView();
  ~QtConfigView() override;

  void SetEvents(ConfigViewEvents* events) override { events_ = events; }
  void SetValue(Ctl c, int32_t value) override;
  void SetText(Ctl c, const std::u16string& text) override;
  void SetEnabled(Ctl c, bool enabled) override;
  void SetVisible(Ctl c, bool visible) override;
  void SelectTab(int index) override;
  void SetCentreGreys(int boxGrey, int arrowGrey) override;
  void SetStatus(const std::u16string& text, const std::u16string& tip) override;
  void ShowWindow() override;
  void HideWindow() override;
  void* NativeHandle() override;
  bool AskYesNo(const std::u16string& text, const std::u16string& caption) override;
  void ShowError(const std::u16string& text, const std::u16string& caption) override;
  std::optional<std::u16string> PickFile(const std::u16string& title, const std::u16string& filterName,
                                         const std::u16string& pattern, const std::u16string& initial) override;
  bool HasNotificationArea() const override;
  void SetIconVisible(bool visible) override;
  void SetIconText(const std::u16string& text) override;
  void ShowBalloon(const std::u16string& title, const std::u16string& text) override;

  // For tests and screenshots: the widget behind a control, the tabs, a
  // button, the status label, the icon and its menu.
  QWidget* Widget(Ctl c) const { return widgets_[static_cast<size_t>(c)]; }
  QTabWidget* Tabs() const { return tabs_; }
  QPushButton* ButtonWidget(Button b) const;
  QLabel* StatusLabel() const { return status_; }
  QLabel* CentreBox() const { return centreBox_; }
  QLabel* Arrow(int side) const { return side == 0 ? arrowLeft_ : arrowRight_; }
  QSystemTrayIcon* TrayIcon() const { return tray_; }
  QMenu* IconMenu() const { return menu_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void reject() override;  // Escape

 private:
  void Emit(const std::function<void(ConfigViewEvents&)>& f);
  QWidget* BuildMain();
  QWidget* BuildSurround();
  QWidget* BuildHeadphones();
  QWidget* BuildRoom();
  QWidget* BuildSystem();
  QWidget* BuildAbout();
  QWidget* Number(Ctl c, int lo, int hi);
  QWidget* Check(Ctl c, const QString& text);
  QWidget* Radio(Ctl c, const QString& text);
  QComboBox* Choice(Ctl c, const QStringList& items);
  QLabel* LinkLabel(Ctl c, Link l);
  void Register(Ctl c, QWidget* w) { widgets_[static_cast<size_t>(c)] = w; }

  ConfigViewEvents* events_ = nullptr;
  std::array<QWidget*, static_cast<size_t>(Ctl::kCount)> widgets_{};
  std::array<QPushButton*, 7> buttons_{};
  QTabWidget* tabs_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* centreBox_ = nullptr;
  QLabel* arrowLeft_ = nullptr;
  QLabel* arrowRight_ = nullptr;
  AboutPanel* about_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* menu_ = nullptr;
  QTimer* timer_ = nullptr;
  bool placed_ = false;
};

}  // namespace sn::ui::qt
