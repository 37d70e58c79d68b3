// The one QApplication of a test program that tests windows: on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise, so that no display is needed,
// made on the main thread before the first test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>
#include <memory>

namespace fx60::testing {

class OffscreenApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "fx60-qt-test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

}  // namespace fx60::testing
