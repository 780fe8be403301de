#include "ui/qt/QtConfigView.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "ui/Texts.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/Art.h"

namespace sn::ui::qt {

namespace {

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }
QString Q(const char16_t* s) { return QString::fromUtf16(s); }

QString Grey(int v) { return QStringLiteral("rgb(%1, %1, %1)").arg(v); }

// The icon menu's mode list: closing its drop-down gives the keyboard back to
// the menu, so the menu can still be walked with the arrow keys.
class MenuComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  void hidePopup() override {
    QComboBox::hidePopup();
    if (QWidget* menu = parentWidget()) menu->setFocus();
  }
};

QLabel* Note(const char16_t* text) {
  auto* l = new QLabel(Q(text));
  l->setWordWrap(true);
  return l;
}

// One labelled row: "text" and the control beside it.
void Row(QGridLayout* g, int row, const char16_t* text, QWidget* w) {
  g->addWidget(new QLabel(Q(text)), row, 0);
  g->addWidget(w, row, 1, Qt::AlignLeft);
}

}  // namespace

QtConfigView::QtConfigView()
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                           Qt::WindowStaysOnTopHint) {
  setWindowTitle(Q(kWindowTitle));
  setWindowIcon(AppIcon());
  setSizeGripEnabled(false);

  tabs_ = new QTabWidget(this);
  tabs_->addTab(BuildMain(), QStringLiteral("Main"));
  tabs_->addTab(BuildSurround(), QStringLiteral("Surround"));
  tabs_->addTab(BuildHeadphones(), QStringLiteral("Headphones"));
  tabs_->addTab(BuildRoom(), QStringLiteral("Room"));
  tabs_->addTab(BuildSystem(), QStringLiteral("System"));
  tabs_->addTab(BuildAbout(), QStringLiteral("About"));
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int i) { Emit([i](auto& e) { e.TabSelected(i); }); });

  auto button = [this](Button b, const QString& text) {
    auto* p = new QPushButton(text, this);
    p->setAutoDefault(false);
    buttons_[static_cast<size_t>(b)] = p;
    connect(p, &QPushButton::clicked, this, [this, b] { Emit([b](auto& e) { e.ButtonClicked(b); }); });
    return p;
  };
  auto* rowButtons = new QHBoxLayout;
  rowButtons->addStretch();
  QPushButton* ok = button(Button::OK, QStringLiteral("OK"));
  ok->setDefault(true);
  rowButtons->addWidget(ok);
  rowButtons->addWidget(button(Button::Cancel, QStringLiteral("Cancel")));
  rowButtons->addWidget(button(Button::Default, QStringLiteral("Default")));
  QPushButton* apply = button(Button::Apply, QStringLiteral("&Apply"));
  Register(Ctl::Apply, apply);
  rowButtons->addWidget(apply);

  auto* bar = new QStatusBar(this);
  bar->setSizeGripEnabled(false);
  status_ = new QLabel(bar);
  bar->addWidget(status_, 1);

  auto* col = new QVBoxLayout(this);
  col->setContentsMargins(8, 8, 8, 0);
  col->addWidget(tabs_);
  col->addLayout(rowButtons);
  col->addWidget(bar);
  col->setSizeConstraint(QLayout::SetFixedSize);

  // The notification icon and its menu: "Configuration" in bold, a separator,
  // the mode list.
  tray_ = new QSystemTrayIcon(AppIcon(), this);
  tray_->setToolTip(Q(kIconInitialText));
  menu_ = new QMenu(this);
  QAction* open = menu_->addAction(QStringLiteral("Configuration"));
  QFont bold = open->font();
  bold.setBold(true);
  open->setFont(bold);
  connect(open, &QAction::triggered, this, [this] { Emit([](auto& e) { e.IconOpenRequested(); }); });
  menu_->addSeparator();
  auto* modes = new MenuComboBox(menu_);
  modes->setFrame(false);
  for (int m = 0; m < kModeCount; ++m) modes->addItem(Q(ModeName(m)));
  Register(Ctl::IconModeList, modes);
  connect(modes, &QComboBox::currentIndexChanged, this,
          [this](int i) { Emit([i](auto& e) { e.ValueChanged(Ctl::IconModeList, i); }); });
  auto* modesAction = new QWidgetAction(menu_);
  modesAction->setDefaultWidget(modes);
  menu_->addAction(modesAction);
  tray_->setContextMenu(menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) Emit([](auto& e) { e.IconOpenRequested(); });
  });

  timer_ = new QTimer(this);
  timer_->setInterval(100);
  connect(timer_, &QTimer::timeout, this, [this] { Emit([](auto& e) { e.TimerTick(); }); });
  timer_->start();
}

QtConfigView::~QtConfigView() {
  events_ = nullptr;
  if (tray_) tray_->hide();
}

void QtConfigView::Emit(const std::function<void(ConfigViewEvents&)>& f) {
  if (!events_) return;
  // Nothing may unwind through the toolkit's loop.
  try {
    f(*events_);
  } catch (...) {
  }
}

QWidget* QtConfigView::Number(Ctl c, int lo, int hi) {
  auto* s = new QSpinBox;
  s->setRange(lo, hi);
  s->setSingleStep(1);
  s->setAlignment(Qt::AlignRight);
  s->setMinimumWidth(56);
  // A typed number counts once it is confirmed (Enter, Tab, the arrows), not
  // digit by digit.
  s->setKeyboardTracking(false);
  Register(c, s);
  connect(s, &QSpinBox::valueChanged, this, [this, c](int v) { Emit([c, v](auto& e) { e.ValueChanged(c, v); }); });
  return s;
}

QWidget* QtConfigView::Check(Ctl c, const QString& text) {
  auto* b = new QCheckBox(text);
  Register(c, b);
  connect(b, &QCheckBox::toggled, this, [this, c](bool on) { Emit([c, on](auto& e) { e.ValueChanged(c, on ? 1 : 0); }); });
  return b;
}

QWidget* QtConfigView::Radio(Ctl c, const QString& text) {
  auto* b = new QRadioButton(text);
  Register(c, b);
  connect(b, &QRadioButton::toggled, this, [this, c](bool on) {
    if (on) Emit([c](auto& e) { e.ValueChanged(c, 1); });
  });
  return b;
}

QComboBox* QtConfigView::Choice(Ctl c, const QStringList& items) {
  auto* b = new QComboBox;
  b->addItems(items);
  Register(c, b);
  connect(b, &QComboBox::currentIndexChanged, this, [this, c](int i) { Emit([c, i](auto& e) { e.ValueChanged(c, i); }); });
  return b;
}

QLabel* QtConfigView::LinkLabel(Ctl c, Link l) {
  auto* a = new QLabel(QStringLiteral("<a href=\"#\">Configure</a>"));
  a->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  if (c != Ctl::kCount) Register(c, a);
  connect(a, &QLabel::linkActivated, this, [this, l](const QString&) { Emit([l](auto& e) { e.LinkClicked(l); }); });
  return a;
}

QWidget* QtConfigView::BuildMain() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);

  auto* mode = new QGroupBox(QStringLiteral("Processing Mode"));
  auto* g = new QGridLayout(mode);
  QStringList names;
  for (int m = 0; m < kModeCount; ++m) names << Q(ModeName(m));
  g->addWidget(new QLabel(QStringLiteral("Select:")), 0, 0);
  QComboBox* list = Choice(Ctl::ModeList, names);
  list->setMinimumWidth(260);
  g->addWidget(list, 0, 1);
  g->addWidget(LinkLabel(Ctl::LinkMain, Link::Main), 1, 1, Qt::AlignRight);
  g->setColumnStretch(1, 1);
  col->addWidget(mode);

  auto* volume = new QGroupBox(QStringLiteral("Volume"));
  auto* v = new QGridLayout(volume);
  Row(v, 0, u"Master gain (dB):", Number(Ctl::MasterGain, -6, 6));
  v->setColumnStretch(2, 1);
  col->addWidget(volume);
  col->addStretch();
  return page;
}

QWidget* QtConfigView::BuildSurround() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->addWidget(Note(u"Settings on this tab only affect 2 channel audio sources."));

  auto* select = new QGroupBox(QStringLiteral("Modes Selection"));
  auto* s = new QHBoxLayout(select);
  s->addWidget(new QLabel(QStringLiteral("Select:")));
  s->addWidget(Radio(Ctl::SurroundMusic, QStringLiteral("Music")));
  s->addWidget(Radio(Ctl::SurroundMovie, QStringLiteral("Movie")));
  s->addStretch();
  col->addWidget(select);

  auto* music = new QGroupBox(QStringLiteral("Music Mode"));
  auto* m = new QGridLayout(music);
  Row(m, 0, u"Surround delay (ms):", Number(Ctl::SurroundDelayMusic, 0, 100));
  Row(m, 1, u"Centre weight (%):", Number(Ctl::CentreWeight, 0, 100));

  // The centre-weight picture: L << C >> R, the C box and the arrows in greys
  // that follow the weight.
  auto box = [](const QString& text) {
    auto* l = new QLabel(text);
    l->setAlignment(Qt::AlignCenter);
    l->setFixedSize(26, 20);
    l->setStyleSheet(QStringLiteral("background-color: black; color: white; border: 1px solid gray;"));
    return l;
  };
  auto arrow = [](const QString& text) {
    auto* l = new QLabel(text);
    l->setAlignment(Qt::AlignCenter);
    l->setFixedSize(22, 20);
    return l;
  };
  auto* picture = new QHBoxLayout;
  picture->setSpacing(2);
  picture->addWidget(box(QStringLiteral("L")));
  picture->addWidget(arrowLeft_ = arrow(QStringLiteral("<<")));
  picture->addWidget(centreBox_ = box(QStringLiteral("C")));
  picture->addWidget(arrowRight_ = arrow(QStringLiteral(">>")));
  picture->addWidget(box(QStringLiteral("R")));
  picture->addStretch();
  m->addLayout(picture, 1, 2);
  m->addWidget(Check(Ctl::MusicShelf, QStringLiteral("Surround channels low-pass shelf")), 2, 0, 1, 3);
  m->setColumnStretch(3, 1);
  col->addWidget(music);

  auto* movie = new QGroupBox(QStringLiteral("Movie Mode"));
  auto* v = new QGridLayout(movie);
  Row(v, 0, u"Surround delay (ms):", Number(Ctl::SurroundDelayMovie, 10, 100));
  v->setColumnStretch(2, 1);
  col->addWidget(movie);
  col->addStretch();
  return page;
}

QWidget* QtConfigView::BuildHeadphones() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->addWidget(Note(u"Headphone mode only works with 44.1 or 48 KHz sources."));

  auto* select = new QGroupBox(QStringLiteral("Modes Selection"));
  auto* s = new QHBoxLayout(select);
  s->addWidget(new QLabel(QStringLiteral("Select:")));
  s->addWidget(Radio(Ctl::HeadphonesMusic, QStringLiteral("Music")));
  s->addWidget(Radio(Ctl::HeadphonesMovie, QStringLiteral("Movie")));
  s->addStretch();
  col->addWidget(select);

  auto group = [&](const QString& title, Ctl box, const QString& text, Link l) {
    auto* g = new QGroupBox(title);
    auto* h = new QHBoxLayout(g);
    h->addWidget(Check(box, text));
    h->addStretch();
    h->addWidget(LinkLabel(Ctl::kCount, l));
    col->addWidget(g);
  };
  group(QStringLiteral("Music Mode"), Ctl::DecodeMusic,
        QStringLiteral("Decode 2 channel sources with Sonavel-SN music mode"), Link::HeadphonesMusic);
  group(QStringLiteral("Movie Mode"), Ctl::DecodeMovie,
        QStringLiteral("Decode 2 channel sources with Sonavel-SN movie mode"), Link::HeadphonesMovie);
  col->addStretch();
  return page;
}

QWidget* QtConfigView::BuildRoom() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->addWidget(Note(u"Settings on this tab do not affect Headphone playback."));

  auto* channels = new QGroupBox(QStringLiteral("Channel Settings"));
  auto* g = new QGridLayout(channels);
  static constexpr const char* kNames[6] = {"L", "R", "C", "Sub", "SL", "SR"};
  static constexpr Ctl kDelays[6] = {Ctl::DelayL, Ctl::DelayR, Ctl::DelayC, Ctl::DelaySub, Ctl::DelaySL, Ctl::DelaySR};
  static constexpr Ctl kTrims[6] = {Ctl::TrimL, Ctl::TrimR, Ctl::TrimC, Ctl::TrimSub, Ctl::TrimSL, Ctl::TrimSR};
  g->addWidget(new QLabel(QStringLiteral("Delay (ms):")), 1, 0);
  g->addWidget(new QLabel(QStringLiteral("Trim (dB):")), 2, 0);
  for (int i = 0; i < 6; ++i) {
    auto* head = new QLabel(QString::fromLatin1(kNames[i]));
    head->setAlignment(Qt::AlignCenter);
    g->addWidget(head, 0, i + 1);
    g->addWidget(Number(kDelays[i], 0, 100), 1, i + 1);
    g->addWidget(Number(kTrims[i], -12, 12), 2, i + 1);
  }
  col->addWidget(channels);

  auto* bass = new QGroupBox(QStringLiteral("Bass Management"));
  auto* b = new QGridLayout(bass);
  b->addWidget(Check(Ctl::LFERedir, QStringLiteral("Enable bass redirection")), 0, 0, 1, 3);
  auto* cutoffLabel = new QLabel(QStringLiteral("Cutoff (Hz):"));
  b->addWidget(cutoffLabel, 1, 0);
  b->addWidget(Number(Ctl::LFECutoff, 20, 200), 1, 1, Qt::AlignLeft);
  b->addWidget(Check(Ctl::LFEInvert, QStringLiteral("Invert phase")), 2, 0, 1, 3);
  b->setColumnStretch(2, 1);
  col->addWidget(bass);
  col->addStretch();
  return page;
}

QWidget* QtConfigView::BuildSystem() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);

  auto* slave = new QGroupBox(QStringLiteral("Slave Module"));
  auto* s = new QGridLayout(slave);
  auto* file = new QLineEdit;
  file->setReadOnly(true);
  file->setMinimumWidth(220);
  Register(Ctl::SlaveFile, file);
  s->addWidget(new QLabel(QStringLiteral("Filename:")), 0, 0);
  s->addWidget(file, 0, 1, 1, 3);
  auto button = [this](Button b, const QString& text) {
    auto* p = new QPushButton(text);
    p->setAutoDefault(false);
    buttons_[static_cast<size_t>(b)] = p;
    connect(p, &QPushButton::clicked, this, [this, b] { Emit([b](auto& e) { e.ButtonClicked(b); }); });
    return p;
  };
  s->addWidget(button(Button::SlaveSelect, QStringLiteral("Select")), 1, 1);
  s->addWidget(button(Button::SlaveConfigure, QStringLiteral("Configure")), 1, 2);
  s->addWidget(button(Button::SlaveAbout, QStringLiteral("About")), 1, 3);
  s->addWidget(new QLabel(QStringLiteral("Precision:")), 2, 0);
  s->addWidget(Choice(Ctl::Precision, {QStringLiteral("16-bit"), QStringLiteral("24-bit")}), 2, 1);
  col->addWidget(slave);

  auto* ext = new QGroupBox(QStringLiteral("Extensions"));
  auto* e = new QGridLayout(ext);
  auto label = [this](Ctl c) {
    auto* l = new QLabel;
    Register(c, l);
    return l;
  };
  e->addWidget(Check(Ctl::SSE2Enable, QStringLiteral("Enable SSE/SSE2")), 0, 0);
  e->addWidget(label(Ctl::SSE2Label), 0, 1);
  e->addWidget(Check(Ctl::CUDAEnable, QStringLiteral("Enable CUDA")), 1, 0);
  e->addWidget(label(Ctl::CUDALabel), 1, 1);
  e->setColumnStretch(2, 1);
  col->addWidget(ext);

  auto* icon = new QGroupBox(QStringLiteral("Notification Icon"));
  auto* i = new QVBoxLayout(icon);
  i->addWidget(Check(Ctl::ShowIcon, QStringLiteral("Show in taskbar")));
  i->addWidget(Check(Ctl::ShowIconPlaying, QStringLiteral("Show only when playing")));
  i->addWidget(Check(Ctl::ShowDecoderInactive, QStringLiteral("Show \"Decoder Inactive\" balloon tip")));
  col->addWidget(icon);
  col->addStretch();
  return page;
}

QWidget* QtConfigView::BuildAbout() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  auto* group = new QGroupBox(QStringLiteral("About"));
  auto* g = new QVBoxLayout(group);
  about_ = new AboutPanel;
  Register(Ctl::AboutDescription, about_->description);
  Register(Ctl::AboutCopyright, about_->copyright);
  Register(Ctl::AboutWeb, about_->web);
  Register(Ctl::AboutBuilt, about_->built);
  g->addWidget(about_);
  col->addWidget(group);
  col->addStretch();
  return page;
}

QPushButton* QtConfigView::ButtonWidget(Button b) const { return buttons_[static_cast<size_t>(b)]; }

void QtConfigView::SetValue(Ctl c, int32_t value) {
  QWidget* w = Widget(c);
  if (!w) return;
  const QSignalBlocker quiet(w);
  if (auto* s = qobject_cast<QSpinBox*>(w)) s->setValue(value);
  else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setChecked(value != 0);
  else if (auto* l = qobject_cast<QComboBox*>(w)) l->setCurrentIndex(value >= 0 && value < l->count() ? value : -1);
}

void QtConfigView::SetText(Ctl c, const std::u16string& text) {
  QWidget* w = Widget(c);
  if (auto* l = qobject_cast<QLabel*>(w)) l->setText(Q(text));
  else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(Q(text));
}

void QtConfigView::SetEnabled(Ctl c, bool enabled) {
  if (QWidget* w = Widget(c)) w->setEnabled(enabled);
}

void QtConfigView::SetVisible(Ctl c, bool visible) {
  // Hidden but still holding its place, so the layout does not jump.
  if (QWidget* w = Widget(c)) {
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
    w->setVisible(visible);
  }
}

void QtConfigView::SelectTab(int index) {
  const QSignalBlocker quiet(tabs_);
  tabs_->setCurrentIndex(index);
}

void QtConfigView::SetCentreGreys(int boxGrey, int arrowGrey) {
  centreBox_->setStyleSheet(QStringLiteral("background-color: %1; color: white; border: 1px solid gray;").arg(Grey(boxGrey)));
  const QString arrows = QStringLiteral("color: %1;").arg(Grey(arrowGrey));
  arrowLeft_->setStyleSheet(arrows);
  arrowRight_->setStyleSheet(arrows);
}

void QtConfigView::SetStatus(const std::u16string& text, const std::u16string& tip) {
  status_->setText(Q(text));
  status_->setToolTip(Q(tip));
}

void QtConfigView::ShowWindow() {
  if (!placed_) {
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect r = frameGeometry();
      r.moveCenter(screen->availableGeometry().center());
      move(r.topLeft());
    }
    placed_ = true;
  }
  show();
  raise();
  activateWindow();
}

void QtConfigView::HideWindow() { hide(); }

void* QtConfigView::NativeHandle() { return reinterpret_cast<void*>(static_cast<uintptr_t>(winId())); }

bool QtConfigView::AskYesNo(const std::u16string& text, const std::u16string& caption) {
  return QMessageBox::question(this, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

void QtConfigView::ShowError(const std::u16string& text, const std::u16string& caption) {
  QMessageBox::warning(this, Q(caption), Q(text));
}

std::optional<std::u16string> QtConfigView::PickFile(const std::u16string& title, const std::u16string& filterName,
                                                     const std::u16string& /*pattern*/,
                                                     const std::u16string& initial) {
  const QString path = QFileDialog::getOpenFileName(this, Q(title), Q(initial), Q(filterName));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdU16String();
}

bool QtConfigView::HasNotificationArea() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtConfigView::SetIconVisible(bool visible) { tray_->setVisible(visible && HasNotificationArea()); }

void QtConfigView::SetIconText(const std::u16string& text) { tray_->setToolTip(Q(text)); }

void QtConfigView::ShowBalloon(const std::u16string& title, const std::u16string& text) {
  // The shortest time a notification area keeps a balloon up.
  if (tray_->isVisible()) tray_->showMessage(Q(title), Q(text), QSystemTrayIcon::Warning, 10000);
}

void QtConfigView::closeEvent(QCloseEvent* e) {
  // The window is hidden, never destroyed: ConfigDlg decides.
  e->ignore();
  Emit([](auto& ev) { ev.CloseRequested(); });
}

void QtConfigView::reject() { Emit([](auto& e) { e.ButtonClicked(Button::Cancel); }); }

}  // namespace sn::ui::qt
