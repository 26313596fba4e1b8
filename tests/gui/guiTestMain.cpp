// The dialog's tests need the application object before any widget exists. They run on the
// offscreen platform and keep QStandardPaths away from the user's own folders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("morvane"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
