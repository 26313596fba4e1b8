#include "app/dialog/mainDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <thread>

#include "app/dialog/dialogTemplate.h"
#include "app/dialog/previewPane.h"
#include "app/picture/previewPicture.h"
#include "app/settingsDialog.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

// Resources are compiled into the dialog's static library; they are registered by name.
static void registerDialogResources() {
  Q_INIT_RESOURCE(morvane);
}

QIcon programIcon() {
  registerDialogResources();
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/morvane/morvane-%1.png").arg(size), QSize(size, size));
  return icon;
}

namespace {

constexpr const char* kWriteErrorLine = "Write Error : Terget DXF";

MainDialog* dialogOf(DialogPort* port) {
  return static_cast<MainDialog*>(port->context);
}

// Runs `call` on the thread of `object`: at once when that is this thread, else queued there
// while this thread waits for it.
Qt::ConnectionType callTypeFor(const QObject* object) {
  return QThread::currentThread() == object->thread() ? Qt::DirectConnection
                                                      : Qt::BlockingQueuedConnection;
}

template <typename Call>
void callOnThreadOf(QObject* object, Call call) {
  QMetaObject::invokeMethod(object, std::move(call), callTypeFor(object));
}

template <typename Call>
int answerOnThreadOf(QObject* object, Call call) {
  int answer = -1;
  QMetaObject::invokeMethod(object, std::move(call), callTypeFor(object), &answer);
  return answer;
}

}  // namespace

MainDialog::MainDialog(FileChooser& chooser, RunFunction run, SaveFunction save, QWidget* parent)
    : QDialog(parent), chooser_(chooser), run_(std::move(run)), save_(std::move(save)) {
  port_ = makePort(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kDialogCaption));
  setWindowIcon(programIcon());
  buildControls();
  loadSettings(&port_);
  alignBox_->setChecked((matchSettings.sw & kSwitchAlignParts) != 0);
  keepTargetBox_->setChecked((matchSettings.sw & kSwitchKeepTarget) != 0);
}

MainDialog::~MainDialog() = default;

QWidget* MainDialog::control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void MainDialog::buildControls() {
  DialogUnits units = dialogUnitsOf(font());
  setFixedSize(units.toPixelsX(kDialogWidth + kPreviewPaneWidth), units.toPixelsY(kDialogHeight));
  // A path box is as tall as its edit field needs; the ">>" beside it takes the same height.
  int pathRowHeight = units.toPixelsY(12);
  QWidget* previousInTabOrder = nullptr;
  for (const ControlTemplate& entry : kDialogControls) {
    QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
    QString text = QString::fromLatin1(entry.text);
    QWidget* widget = nullptr;
    switch (entry.kind) {
      case ControlKind::label: {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        widget = label;
        break;
      }
      case ControlKind::pathBox: {
        auto* box = new QComboBox(this);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->lineEdit()->setClearButtonEnabled(false);
        pathRowHeight = std::max(pathRowHeight, box->sizeHint().height());
        place.setHeight(pathRowHeight);
        widget = box;
        break;
      }
      case ControlKind::button:
      case ControlKind::defaultButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        button->setDefault(entry.kind == ControlKind::defaultButton);
        if (entry.height == 12) place.setHeight(pathRowHeight);  // beside a path box
        widget = button;
        break;
      }
      case ControlKind::icon: {
        auto* label = new QLabel(this);
        int side = std::min(place.width(), place.height());
        label->setPixmap(windowIcon().pixmap(QSize(side, side)));
        label->setAlignment(Qt::AlignCenter);
        widget = label;
        break;
      }
      case ControlKind::groupBox:
        widget = new QGroupBox(text, this);
        break;
      case ControlKind::checkBox:
        widget = new QCheckBox(text, this);
        break;
      case ControlKind::listCombo: {
        auto* box = new QComboBox(this);
        box->setMaxVisibleItems(std::max(1, entry.height / 8 - 1));
        place.setHeight(box->sizeHint().height());
        widget = box;
        break;
      }
      case ControlKind::separator: {
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        place.setHeight(std::max(2, place.height()));
        widget = line;
        break;
      }
      case ControlKind::progressList: {
        auto* list = new QListWidget(this);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        list->setSortingEnabled(false);
        list->setUniformItemSizes(true);
        place.setBottom(height() - 1);  // down to the dialog's foot whatever the rounding
        widget = list;
        break;
      }
    }
    widget->setObjectName(QString::number(entry.id));
    widget->setProperty("controlId", entry.id);
    widget->setGeometry(place);
    widget->setVisible(!entry.hidden);
    if (entry.id != kStaticId) controls_[entry.id] = widget;
    if (widget->focusPolicy() & Qt::TabFocus) {
      if (previousInTabOrder) setTabOrder(previousInTabOrder, widget);
      previousInTabOrder = widget;
    }
  }
  referenceBox_ = qobject_cast<QComboBox*>(control(kReferenceBoxId));
  targetBox_ = qobject_cast<QComboBox*>(control(kTargetBoxId));
  rotationBox_ = qobject_cast<QComboBox*>(control(kRotationBoxId));
  alignBox_ = qobject_cast<QCheckBox*>(control(kAlignBoxId));
  keepTargetBox_ = qobject_cast<QCheckBox*>(control(kKeepTargetBoxId));
  progressList_ = qobject_cast<QListWidget*>(control(kProgressListId));
  connect(qobject_cast<QPushButton*>(control(kBrowseReferenceId)), &QPushButton::clicked, this,
          &MainDialog::onBrowseReference);
  connect(qobject_cast<QPushButton*>(control(kBrowseTargetId)), &QPushButton::clicked, this,
          &MainDialog::onBrowseTarget);
  connect(qobject_cast<QPushButton*>(control(kSaveTargetButtonId)), &QPushButton::clicked, this,
          &MainDialog::onSaveTarget);
  connect(qobject_cast<QPushButton*>(control(kExitButtonId)), &QPushButton::clicked, this,
          &MainDialog::reject);
  buildPreviewPane(units);
  referenceBox_->setFocus();
}

// The preview pane to the right of the template's controls, from top to foot.
void MainDialog::buildPreviewPane(const DialogUnits& units) {
  preview_ = new PreviewPane(this);
  int left = units.toPixelsX(kDialogWidth + 4), top = units.toPixelsY(4);
  preview_->setGeometry(left, top, width() - left - units.toPixelsX(4), height() - 2 * top);
  connect(preview_, &PreviewPane::savePictureRequested, this, &MainDialog::onSavePicture);
}

// ---- handlers ----

QString MainDialog::chooseDxfFile(ChooserKind kind) {
  const LineList* recent = kind == ChooserKind::openReference ? referenceList : targetList;
  return chooser_.choose(this, chooserRequest(kind, recent, QDir::homePath()));
}

void MainDialog::onSavePicture() {
  if (running_ || closed_ || !preview_->hasModel()) return;
  QString chosen = chooseDxfFile(ChooserKind::savePicture);
  if (chosen.isEmpty()) return;
  QString reason;
  if (!savePreviewPicture(QFile::encodeName(chosen).constData(), preview_->view(), &reason))
    addListLine(QStringLiteral("Write Error : %1 (%2)").arg(chosen, reason));
}

void MainDialog::browse(ChooserKind kind, QComboBox* box) {
  if (running_ || closed_) return;
  QString chosen = chooseDxfFile(kind);
  if (chosen.isNull()) return;
  if (!chosen.isEmpty()) box->setEditText(chosen);
}

void MainDialog::onBrowseReference() {
  browse(ChooserKind::openReference, referenceBox_);
}

void MainDialog::onBrowseTarget() {
  browse(ChooserKind::openTarget, targetBox_);
}

QByteArray MainDialog::trimmedPath(const QComboBox* box) const {
  QByteArray path = QFile::encodeName(box->currentText());
  trimTrailingBlanks(path.data());
  path.truncate(static_cast<qsizetype>(std::strlen(path.constData())));
  return path;
}

void MainDialog::onSaveTarget() {
  if (running_ || closed_) return;
  // 1, 2: both paths, whole and without trailing blanks, to the front of their recent lists.
  QByteArray referencePath = trimmedPath(referenceBox_);
  if (!referencePath.isEmpty()) moveLineToFront(referenceList, referencePath.constData());
  QByteArray targetPath = trimmedPath(targetBox_);
  if (!targetPath.isEmpty()) moveLineToFront(targetList, targetPath.constData());
  // 3: the rotation box's selection (-1 when nothing is selected).
  setTextureRotation(rotationBox_->currentIndex());
  setAlignParts(alignBox_->isChecked());
  setKeepTarget(keepTargetBox_->isChecked());
  // 4: the run; on failure the progress list already says why.
  if (runOffThisThread(referencePath, targetPath) == 0) return;
  // 5: the path boxes show the lists' new order.
  fillPathBoxes(&port_);
  // 6, 7: the output path, then the file; a file that could not be written is said so.
  QString chosen = chooseDxfFile(ChooserKind::saveTarget);
  if (chosen.isEmpty()) return;
  if (!save_(QFile::encodeName(chosen).constData())) addProgressLine(&port_, "%s", kWriteErrorLine);
}

// The run goes on a thread of its own while this thread waits in a local event loop, so the
// window repaints and the progress lines appear as they are added. The controls are disabled
// and onSaveTarget, the choosers and closing refuse meanwhile, so no second run can start.
int MainDialog::runOffThisThread(const QByteArray& referencePath, const QByteArray& targetPath) {
  QPointer<QWidget> focused = focusWidget();
  running_ = true;
  setControlsEnabled(false);
  preview_->forgetModels();  // the run replaces the models it shows
  nextQueuedLine_ = progressList_->count();
  int result = 0;
  std::atomic<bool> finished{false};
  QEventLoop loop;
  std::thread worker([&] {
    result = run_(&port_, referencePath.constData(), targetPath.constData());
    finished = true;
    // Posted after every line the run sent, so the loop ends once all of them are shown.
    QMetaObject::invokeMethod(
        this, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  // When the application is quitting, every event loop returns at once; keep serving the
  // run's calls to this thread until it has finished.
  while (!finished)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  worker.join();
  QCoreApplication::sendPostedEvents(this);
  running_ = false;
  setControlsEnabled(true);
  if (result) preview_->showRunState();
  if (focused && focused->isEnabled()) focused->setFocus();
  return result;
}

void MainDialog::setControlsEnabled(bool enabled) {
  for (int id :
       {kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId, kAlignBoxId,
        kKeepTargetBoxId, kRotationGroupId, kRotationBoxId, kSaveTargetButtonId, kExitButtonId})
    control(id)->setEnabled(enabled);
  preview_->setEnabled(enabled);
}

void MainDialog::reject() {
  if (running_ || closed_) return;
  closed_ = true;
  QDialog::reject();
  setAlignParts(alignBox_->isChecked());
  setKeepTarget(keepTargetBox_->isChecked());
  saveSettingsAndLists();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);  // reaches reject()
}

// ---- DialogPort services ----

int MainDialog::addListLine(const QString& line) {
  progressList_->addItem(line);
  return progressList_->count() - 1;
}

void MainDialog::clearList() {
  progressList_->clear();
}

void MainDialog::resetCombo(int id) {
  if (auto* box = qobject_cast<QComboBox*>(control(id))) box->clear();
}

// Adds an entry without changing the selection or the edit text, as a list box does; in the
// rotation box (sorted) the entry goes to its place in order.
int MainDialog::addComboItem(int id, const QString& text) {
  auto* box = qobject_cast<QComboBox*>(control(id));
  if (!box) return -1;
  int index = box->count();
  if (box == rotationBox_) {
    index = 0;
    while (index < box->count() &&
           QString::compare(box->itemText(index), text, Qt::CaseInsensitive) <= 0)
      ++index;
  }
  int selected = box->currentIndex();
  QString editText = box->isEditable() ? box->currentText() : QString();
  box->insertItem(index, text);
  if (selected < 0) {
    box->setCurrentIndex(-1);
    if (box->isEditable()) box->setEditText(editText);
  }
  return index;
}

void MainDialog::setControlText(int id, const QString& text) {
  QWidget* widget = control(id);
  if (auto* box = qobject_cast<QComboBox*>(widget)) {
    if (box->isEditable()) box->setEditText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  }
}

void MainDialog::selectComboItem(int id, int index) {
  auto* box = qobject_cast<QComboBox*>(control(id));
  if (!box) return;
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

void MainDialog::showControl(int id) {
  if (QWidget* widget = control(id)) widget->show();
}

// The core may call from the run's thread. Progress lines are then posted to the dialog's
// thread without waiting (posted events keep their order); the other services are rare and
// wait for their answer.
DialogPort MainDialog::makePort(MainDialog* dialog) {
  DialogPort port{};
  port.context = dialog;
  port.addListLine = [](DialogPort* self, const char* line) {
    MainDialog* d = dialogOf(self);
    QString text = QString::fromUtf8(line ? line : "");
    if (QThread::currentThread() == d->thread()) return d->addListLine(text);
    QMetaObject::invokeMethod(
        d,
        [d, text] {
          d->addListLine(text);
          d->progressList_->scrollToBottom();
        },
        Qt::QueuedConnection);
    return d->nextQueuedLine_++;
  };
  port.clearList = [](DialogPort* self) {
    MainDialog* d = dialogOf(self);
    if (QThread::currentThread() == d->thread()) return d->clearList();
    d->nextQueuedLine_ = 0;
    QMetaObject::invokeMethod(
        d, [d] { d->clearList(); }, Qt::QueuedConnection);
  };
  port.resetCombo = [](DialogPort* self, int id) {
    MainDialog* d = dialogOf(self);
    callOnThreadOf(d, [d, id] { d->resetCombo(id); });
  };
  port.addComboItem = [](DialogPort* self, int id, const char* text) {
    MainDialog* d = dialogOf(self);
    QString entry = QFile::decodeName(text ? text : "");
    return answerOnThreadOf(d, [d, id, entry] { return d->addComboItem(id, entry); });
  };
  port.setControlText = [](DialogPort* self, int id, const char* text) {
    MainDialog* d = dialogOf(self);
    QString value = QFile::decodeName(text ? text : "");
    callOnThreadOf(d, [d, id, value] { d->setControlText(id, value); });
  };
  port.selectComboItem = [](DialogPort* self, int id, int index) {
    MainDialog* d = dialogOf(self);
    callOnThreadOf(d, [d, id, index] { d->selectComboItem(id, index); });
  };
  port.showControl = [](DialogPort* self, int id) {
    MainDialog* d = dialogOf(self);
    callOnThreadOf(d, [d, id] { d->showControl(id); });
  };
  return port;
}
