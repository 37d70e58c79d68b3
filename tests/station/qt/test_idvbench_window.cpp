// The station's window on the offscreen platform: its controls where the dialog
// template puts them, the presenter driven by clicks and keys against the
// virtual card reader and the simulated fingerprint module, and what the window
// makes of pictures it cannot show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QThread>
#include <fstream>
#include <thread>

#include "platform/qt/dialog_font.h"
#include "station/qt/about_dialog.h"
#include "station/dialog_templates.h"
#include "station/qt/idvbench_window.h"
#include "station/dib_image.h"
#include "station/texts.h"
#include "tests/station/presenter_fixture.h"
#include "tests/support/offscreen_application.h"

namespace fx60::station {
namespace {

using namespace fx60::station::testing;
using namespace fx60::station::ui;

const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateFlagsEnvironment);
const auto* const kApplication = ::testing::AddGlobalTestEnvironment(new fx60::testing::OffscreenApplication);

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Every text of the station, for the font check.
QString allStationTexts() {
  QString all;
  for (const auto& control : kMainDialogControls) all += qs(control.caption);
  for (std::string_view text :
       {kMainDialogTitle, texts::kAlreadyRunning, texts::kWarningCaption, texts::kLibraryLoadFailed,
        texts::kSerialQueryFailed, texts::kReaderNotConnected, texts::kReaderLost, texts::kCompareFailed,
        texts::kVerifyFailed, texts::kStatusReaderConnected, texts::kStatusReaderNotFound,
        texts::kStatusPlaceCard, texts::kStatusPlaceFinger, texts::kStatusPlaceFingerAgain,
        texts::kStatusCompareSucceeded, texts::kStatusVerifyFailed, texts::kStatusReaderLost,
        texts::kCollectRunning, texts::kCompareRunning, texts::kVerifyRunning, texts::kAboutCaption,
        texts::kAboutVersion, texts::kAboutNotice, texts::kAboutMenuItem})
    all += qs(text);
  return all;
}

TEST(StationFont, ASongStyleChineseFontDrawsEveryTextOfTheStation) {
  const QString family = fx60::ui::songStyleFamily();
  ASSERT_FALSE(family.isEmpty()) << "no Song style Chinese font is installed (Debian: fonts-arphic-uming or "
                                    "fonts-noto-cjk): the station's texts would show as empty boxes";
  EXPECT_TRUE(fx60::ui::fontDrawsAll(fx60::ui::dialogFont(kDialogFontPoints), allStationTexts())) << family.toStdString();
}

class StationWindow : public PresenterTest {
 protected:
  void SetUp() override {
    PresenterTest::SetUp();
    window_ = std::make_unique<IdvBenchWindow>([this] { ++ended_; });
  }

  void TearDown() override {
    presenter_.reset();
    window_.reset();
    for (QWidget* widget : QApplication::topLevelWidgets()) delete qobject_cast<QMessageBox*>(widget);
    PresenterTest::TearDown();
  }

  // The presenter over the window, started up, and the window shown.
  CIdvBenchDlg& openStation() {
    presenter_ = std::make_unique<CIdvBenchDlg>(*window_, settings_);
    window_->setPresenter(presenter_.get());
    EXPECT_TRUE(presenter_->OnInitDialog());
    window_->show();
    return *presenter_;
  }

  QWidget* control(ControlId id) const { return window_->control(static_cast<int>(id)); }
  QPushButton* button(ControlId id) const { return qobject_cast<QPushButton*>(control(id)); }
  QString text(ControlId id) const {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id))) return edit->text();
    if (auto* address = qobject_cast<QPlainTextEdit*>(control(id))) return address->toPlainText();
    return {};
  }
  void click(ControlId id) { QTest::mouseClick(button(id), Qt::LeftButton); }
  bool waitForStatus(std::string_view status, int timeoutMs = 15000) {
    return QTest::qWaitFor([&] { return text(ControlId::Status) == qs(status); }, timeoutMs);
  }
  // Paints the window now; the fingerprint as that paint drew it.
  QImage paintedFingerprint() {
    window_->grab();
    return window_->paintedFingerprint();
  }
  static QMessageBox* openBox(std::string_view boxText) {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible() && box->text() == qs(boxText))
        return box;
    return nullptr;
  }

  std::unique_ptr<IdvBenchWindow> window_;
  std::unique_ptr<CIdvBenchDlg> presenter_;
  int ended_ = 0;
};

TEST_F(StationWindow, ControlsLieAtTheTemplateRectanglesWithTheirCaptionsAndFlags) {
  const auto base = fx60::ui::baseUnitsOf(window_->font());
  EXPECT_EQ(window_->baseUnits().averageWidth, base.averageWidth);
  if (QFontInfo(window_->font()).family() == QLatin1String("AR PL UMing CN")) {
    // 9 point at 96 dpi is 12 pixels; the font's average character is 6 x 12.
    EXPECT_EQ(base.averageWidth, 6);
    EXPECT_EQ(base.height, 12);
    EXPECT_EQ(window_->size(), QSize(509, 323)) << "339 x 215 units, halves rounded up";
    EXPECT_EQ(control(ControlId::Address)->geometry(), QRect(152, 95, 225, 33));
  }
  EXPECT_EQ(window_->size(), fx60::ui::toPixels(kMainDialogWidth, kMainDialogHeight, base));
  EXPECT_EQ(window_->windowTitle(), qs(kMainDialogTitle));
  EXPECT_FALSE(window_->windowIcon().isNull());
  EXPECT_TRUE(window_->windowFlags() & Qt::WindowMinimizeButtonHint);

  for (const ControlTemplate& entry : kMainDialogControls) {
    const QString name = entry.id == kNoId ? qs(entry.name) : QString::number(entry.id);
    auto* widget = window_->findChild<QWidget*>(name);
    ASSERT_NE(widget, nullptr) << name.toStdString();
    const QRect expected = fx60::ui::toPixels(entry.rect, base);
    if (entry.kind == ControlKind::Logo) {
      EXPECT_EQ(widget->geometry(), QRect(expected.topLeft(), QSize(101, 101))) << "the logo at its own size";
      continue;
    }
    EXPECT_EQ(widget->geometry(), expected) << name.toStdString();
    if (auto* pushButton = qobject_cast<QPushButton*>(widget)) {
      EXPECT_EQ(pushButton->text(), qs(entry.caption)) << name.toStdString();
      EXPECT_EQ(pushButton->isFlat(), entry.kind == ControlKind::FlatButton) << name.toStdString();
      EXPECT_FALSE(pushButton->autoDefault()) << "Enter presses no button";
    } else if (auto* label = qobject_cast<QLabel*>(widget); label && !entry.caption.empty()) {
      EXPECT_EQ(label->text(), qs(entry.caption));
      EXPECT_EQ(bool(label->alignment() & Qt::AlignRight), entry.kind == ControlKind::RightLabel) << name.toStdString();
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      EXPECT_EQ(group->title(), qs(entry.caption));
    }
  }
  EXPECT_EQ(window_->findChild<QGroupBox*>("card-group")->title(), QStringLiteral(" 证件")) << "the leading blank";
  auto* ok = window_->findChild<QPushButton*>("1");
  EXPECT_TRUE(ok->isHidden());
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_NE(qobject_cast<QPlainTextEdit*>(control(ControlId::Address)), nullptr) << "the address has several lines";
  EXPECT_FALSE(control(ControlId::Status)->isEnabled());
  EXPECT_TRUE(qobject_cast<QLineEdit*>(control(ControlId::Status))->hasFrame());
}

TEST_F(StationWindow, AVerificationThatSucceedsShowsTheHolderAndClearingRemovesIt) {
  REQUIRE_FINGER_IMAGES();
  startReader({"--card", makeCard("holder.card", {{0, 1}, {0, 3}}).string()});
  startFingerModuleWith({{0, 2}});
  openStation();
  EXPECT_EQ(text(ControlId::Status), qs(texts::kStatusReaderConnected));

  click(ControlId::VerifyButton);
  EXPECT_EQ(button(ControlId::VerifyButton)->text(), qs(texts::kVerifyRunning));
  EXPECT_FALSE(button(ControlId::CompareButton)->isEnabled());
  EXPECT_FALSE(button(ControlId::SerialButton)->isEnabled());
  EXPECT_TRUE(button(ControlId::ClearButton)->isEnabled());
  ASSERT_TRUE(waitForStatus(texts::kStatusVerifySucceeded)) << text(ControlId::Status).toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter_->workflowRunning(); }, 5000));
  QTest::qWait(20);
  EXPECT_EQ(button(ControlId::VerifyButton)->text(), qs(texts::kVerifyIdle));
  EXPECT_TRUE(button(ControlId::CompareButton)->isEnabled());

  EXPECT_EQ(text(ControlId::Name), QStringLiteral("张三"));
  EXPECT_EQ(text(ControlId::Address), QStringLiteral("北京市海淀区中关村大街1号"));
  EXPECT_EQ(text(ControlId::IdNumber), QStringLiteral("11010819900307001X"));
  const QPixmap photo = qobject_cast<QLabel*>(control(ControlId::Photo))->pixmap();
  EXPECT_FALSE(photo.isNull()) << "the card photo";
  EXPECT_EQ(paintedFingerprint().size(), QSize(256, 360)) << "the fingerprint image file, drawn";

  click(ControlId::ClearButton);
  EXPECT_TRUE(text(ControlId::Name).isEmpty());
  EXPECT_TRUE(text(ControlId::Address).isEmpty());
  EXPECT_TRUE(qobject_cast<QLabel*>(control(ControlId::Photo))->pixmap().isNull());
  EXPECT_TRUE(paintedFingerprint().isNull()) << "gone with its file";
  EXPECT_EQ(text(ControlId::Status), qs(texts::kStatusVerifySucceeded)) << "clearing keeps the status line";
}

TEST_F(StationWindow, AVerificationThatFailsShowsItsBoxThenTheStatus) {
  REQUIRE_FINGER_IMAGES();
  startReader({"--card", makeCard("holder.card", {{0, 1}, {0, 3}}).string()});
  startFingerModuleWith({{1, 2}});
  openStation();
  click(ControlId::VerifyButton);
  QMessageBox* box = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (box = openBox(texts::kVerifyFailed)) != nullptr; }, 15000));
  EXPECT_EQ(box->parentWidget(), nullptr) << "a workflow's box has no owner";
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(text(ControlId::Name), QStringLiteral("张三"));
  EXPECT_FALSE(qobject_cast<QLabel*>(control(ControlId::Photo))->pixmap().isNull()) << "the card photo";
  EXPECT_EQ(paintedFingerprint().size(), QSize(256, 360)) << "the live finger that was rejected";
  EXPECT_NE(text(ControlId::Status), qs(texts::kStatusVerifyFailed)) << "not before the box is answered";
  EXPECT_TRUE(button(ControlId::ClearButton)->isEnabled());

  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  ASSERT_TRUE(waitForStatus(texts::kStatusVerifyFailed));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter_->workflowRunning(); }, 5000));
}

TEST_F(StationWindow, TheOtherButtonsDriveThePresenter) {
  REQUIRE_FINGER_IMAGES();
  startReader({"--serial", "SAM-0042", "--card", makeCard("holder.card", {}).string()});
  openStation();

  click(ControlId::SerialButton);
  QMessageBox* serial = openBox("SAM-0042");
  ASSERT_NE(serial, nullptr);
  EXPECT_EQ(serial->parentWidget(), window_.get()) << "the dialog's own box";
  EXPECT_EQ(serial->windowModality(), Qt::WindowModal);
  QTest::mouseClick(serial->button(QMessageBox::Ok), Qt::LeftButton);

  click(ControlId::CollectButton);
  EXPECT_EQ(button(ControlId::CollectButton)->text(), qs(texts::kCollectRunning));
  ASSERT_TRUE(QTest::qWaitFor([&] { return text(ControlId::Name) == QStringLiteral("张三"); }, 10000));
  click(ControlId::CollectButton);  // pause
  EXPECT_FALSE(presenter_->workflowRunning());
  EXPECT_EQ(button(ControlId::CollectButton)->text(), qs(texts::kCollectIdle));
  EXPECT_TRUE(text(ControlId::Name).isEmpty()) << "pressing a workflow button clears the display first";

  // Each live template takes two images: the template's and the one shown.
  startFingerModuleWith({{0, 1}, {0, 1}, {0, 2}, {0, 2}});
  click(ControlId::CompareButton);
  EXPECT_EQ(button(ControlId::CompareButton)->text(), qs(texts::kCompareRunning));
  ASSERT_TRUE(waitForStatus(texts::kStatusCompareSucceeded));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter_->workflowRunning(); }, 5000));
  QTest::qWait(20);
  EXPECT_EQ(button(ControlId::CompareButton)->text(), qs(texts::kCompareIdle));
  EXPECT_EQ(paintedFingerprint().size(), QSize(256, 360));
}

TEST_F(StationWindow, EnterLeavesTheDialogOpenAndEscapeExits) {
  openStation();
  const QString status = text(ControlId::Status);
  auto* name = qobject_cast<QLineEdit*>(control(ControlId::Name));
  name->setFocus();
  QTest::keyClick(name, Qt::Key_Return);
  QTest::keyClick(window_.get(), Qt::Key_Enter);
  button(ControlId::VerifyButton)->setFocus();
  QTest::keyClick(button(ControlId::VerifyButton), Qt::Key_Return);
  QTest::qWait(50);
  EXPECT_EQ(ended_, 0);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(presenter_->workflowRunning()) << "Enter presses no button";
  EXPECT_EQ(text(ControlId::Status), status);

  std::ofstream(programDir() / "fingerimg.bmp") << "stale";
  QTest::keyClick(window_.get(), Qt::Key_Escape);
  EXPECT_EQ(ended_, 1);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(fs::exists(programDir() / "fingerimg.bmp")) << "the exit went through the presenter";
}

TEST_F(StationWindow, TheCloseBoxAndTheExitButtonExitThroughThePresenter) {
  openStation();
  window_->close();
  EXPECT_EQ(ended_, 1);
  presenter_->OnCancel();  // a second exit does nothing more
  EXPECT_EQ(ended_, 1);

  auto second = std::make_unique<IdvBenchWindow>([this] { ++ended_; });
  CIdvBenchDlg presenter(*second, settings_);
  second->setPresenter(&presenter);
  ASSERT_TRUE(presenter.OnInitDialog());
  second->show();
  QTest::mouseClick(second->control(static_cast<int>(ControlId::ExitButton)), Qt::LeftButton);
  EXPECT_EQ(ended_, 2);
  EXPECT_TRUE(second->ended());
}

TEST_F(StationWindow, TheAboutBoxFromF1AndFromTheWindowMenu) {
  openStation();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QTest::keyClick(window_.get(), Qt::Key_F1);
  auto* about = window_->findChild<QDialog*>(CAboutDlg::kObjectName);
  ASSERT_NE(about, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
  EXPECT_EQ(about->windowTitle(), qs(texts::kAboutCaption));
  EXPECT_EQ(about->findChild<QLabel*>("version")->text(), qs(texts::kAboutVersion));
  EXPECT_FALSE(about->findChild<QLabel*>("icon")->pixmap().isNull());
  const auto base = fx60::ui::baseUnitsOf(about->font());
  EXPECT_EQ(about->size(), fx60::ui::toPixels(kAboutDialogWidth, kAboutDialogHeight, base));
  QTest::mouseClick(about->findChild<QPushButton*>("1"), Qt::LeftButton);
  EXPECT_FALSE(about->isVisible());

  // The menu's item opens it again.
  QString item;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    QAction* action = menu->findChild<QAction*>(IdvBenchWindow::kAboutMenuItemName);
    item = action->text();
    action->trigger();
    menu->close();
  });
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(20, 200), window_->mapToGlobal(QPoint(20, 200)));
  QApplication::sendEvent(window_.get(), &menuEvent);
  EXPECT_EQ(item, qs(texts::kAboutMenuItem));
  about = window_->findChild<QDialog*>(CAboutDlg::kObjectName);
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return about->isVisible(); }, 2000));
}

TEST_F(StationWindow, PicturesThatCannotBeShownLeaveTheControlsBlank) {
  auto* photo = qobject_cast<QLabel*>(control(ControlId::Photo));
  const fs::path good = programDir() / "good.bmp";
  const std::vector<uint8_t> grey(256 * 360, 128);
  ASSERT_EQ(saveGrayBmp(256, 360, grey.data(), good), 0);
  window_->showPhoto(good);
  EXPECT_FALSE(photo->pixmap().isNull());

  const fs::path jpeg = programDir() / "photo.jpg";
  std::ofstream(jpeg, std::ios::binary) << "\xFF\xD8\xFF\xE0 not a bitmap";
  window_->showPhoto(jpeg);
  EXPECT_TRUE(photo->pixmap().isNull()) << "only bitmap files are shown";

  // A header that claims 60000 x 60000 pixels is not decoded at all.
  const fs::path huge = programDir() / "huge.bmp";
  {
    std::ofstream out(huge, std::ios::binary);
    const uint8_t header[54] = {'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                0x60, 0xEA, 0, 0, 0x60, 0xEA, 0, 0, 1, 0, 24, 0};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
  }
  window_->showPhoto(huge);
  EXPECT_TRUE(photo->pixmap().isNull());
  window_->showPhoto(programDir() / "missing.bmp");
  EXPECT_TRUE(photo->pixmap().isNull());

  window_->redrawFingerprint(huge);
  EXPECT_TRUE(paintedFingerprint().isNull());
  const fs::path broken = programDir() / "broken.bmp";
  {
    std::ifstream in(good, std::ios::binary);
    std::vector<char> bytes(200);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(broken, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  window_->redrawFingerprint(broken);
  EXPECT_TRUE(paintedFingerprint().isNull()) << "a cut-off file";
  window_->redrawFingerprint(good);
  EXPECT_EQ(paintedFingerprint().size(), QSize(256, 360));
}

TEST_F(StationWindow, CallsFromAnotherThreadReachTheWidgetsOnTheWindowsThread) {
  openStation();
  auto* status = qobject_cast<QLineEdit*>(control(ControlId::Status));
  const QString before = status->text();
  const QThread* windowThread = QThread::currentThread();
  std::vector<const QThread*> touchedOn;
  QObject::connect(status, &QLineEdit::textChanged, status, [&] { touchedOn.push_back(QThread::currentThread()); },
                   Qt::DirectConnection);

  std::thread worker([&] {
    window_->setStatusText("from a worker");
    window_->setFieldText(ControlId::Name, "李四");
    window_->setButtonCaption(ControlId::VerifyButton, std::string(texts::kVerifyRunning));
    window_->setButtonEnabled(ControlId::CompareButton, false);
    window_->showMessageBox(MessageBox{9, "worker box", "", MessageIcon::Stop, false}, {});
  });
  worker.join();
  EXPECT_EQ(status->text(), before) << "nothing touched off the window's thread";
  EXPECT_TRUE(touchedOn.empty());

  ASSERT_TRUE(QTest::qWaitFor([&] { return openBox("worker box") != nullptr; }, 2000));
  EXPECT_EQ(status->text(), QStringLiteral("from a worker"));
  EXPECT_EQ(text(ControlId::Name), QStringLiteral("李四"));
  EXPECT_EQ(button(ControlId::VerifyButton)->text(), qs(texts::kVerifyRunning));
  EXPECT_FALSE(button(ControlId::CompareButton)->isEnabled());
  ASSERT_EQ(touchedOn.size(), 1u);
  EXPECT_EQ(touchedOn[0], windowThread);
}

TEST_F(StationWindow, MessageBoxesShowTextAsItIs) {
  bool dismissed = false;
  window_->showMessageBox(MessageBox{7, "<b>SAM</b> & 1", "IdvBench", MessageIcon::None, true},
                          [&] { dismissed = true; });
  auto* box = window_->findChild<QMessageBox*>("box-7");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->text(), QStringLiteral("<b>SAM</b> & 1"));
  EXPECT_EQ(box->windowTitle(), QStringLiteral("IdvBench"));
  window_->closeMessageBox(7);
  QTest::qWait(10);
  EXPECT_FALSE(dismissed) << "a box closed for the presenter reports no dismissal";

  window_->showMessageBox(MessageBox{8, "x", "", MessageIcon::Stop, false}, [&] { dismissed = true; });
  window_->dismissMessageBoxes();
  EXPECT_TRUE(dismissed);
}

}  // namespace
}  // namespace fx60::station
