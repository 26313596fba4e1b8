#include "app/dialog/errorBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex heldMutex;
bool holding = false;
QStringList held;

void showOnThisThread(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kErrorBoxTitle), text,
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace

void showErrorBox(const char* message) {
  QString text = QString::fromUtf8(message ? message : "");
  QCoreApplication* application = QCoreApplication::instance();
  if (!qobject_cast<QApplication*>(application)) {
    std::fprintf(stderr, "%s: %s\n", kErrorBoxTitle, message ? message : "");
    return;
  }
  if (QThread::currentThread() == application->thread()) {
    showOnThisThread(text);
    return;
  }
  std::unique_lock<std::mutex> lock(heldMutex);
  if (holding) {
    held << text;
  } else {
    lock.unlock();
    QMetaObject::invokeMethod(
        application, [text] { showOnThisThread(text); }, Qt::BlockingQueuedConnection);
  }
}

void holdErrorBoxes(bool hold) {
  std::lock_guard<std::mutex> lock(heldMutex);
  holding = hold;
}

QStringList takeHeldErrorBoxes() {
  std::lock_guard<std::mutex> lock(heldMutex);
  return std::exchange(held, QStringList());
}
