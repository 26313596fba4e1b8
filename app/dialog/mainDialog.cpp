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
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "app/dialog/dialogTemplate.h"
#include "app/dialog/errorBox.h"
#include "app/dialog/previewPane.h"
#include "app/picture/previewPicture.h"
#include "app/settingsDialog.h"
#include "match/matchingRun.h"
#include "match/runResult.h"
#include "model/faceModel.h"
#include "output/keptResult.h"
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

bool sameStamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modifiedNanoseconds == b.modifiedNanoseconds;
}

// The run's reports, kept for the progress row's next look.
void watchRun(RunProgress* self, const char* stage, int32_t part, int32_t parts, double fraction) {
  auto* watch = static_cast<RunWatch*>(self->context);
  watch->stage = stage;
  watch->part = part;
  watch->parts = parts;
  watch->permille = static_cast<int>(fraction * 1000);
}

int cancelWatched(RunProgress* self) {
  return static_cast<RunWatch*>(self->context)->cancel.load();
}

// "m:ss" of a time in milliseconds.
QString minutesAndSeconds(qint64 ms) {
  qint64 seconds = ms / 1000;
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

RunInputs currentRunInputs(const QByteArray& referencePath, const QByteArray& targetPath) {
  RunInputs inputs{};
  inputs.referencePath = referencePath;
  inputs.targetPath = targetPath;
  inputs.referenceStamp = fileStamp(referencePath.constData());
  inputs.targetStamp = fileStamp(targetPath.constData());
  inputs.rotation = textureRotation;
  inputs.settings = matchSettings;
  return inputs;
}

bool sameRunInputs(const RunInputs& a, const RunInputs& b) {
  const MatchSettings &x = a.settings, &y = b.settings;
  // Tolerances compared bit for bit: a NaN read from the file equals itself.
  auto same = [](double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; };
  return a.referencePath == b.referencePath && a.targetPath == b.targetPath &&
         sameStamp(a.referenceStamp, b.referenceStamp) && sameStamp(a.targetStamp, b.targetStamp) &&
         a.rotation == b.rotation && x.sw == y.sw &&
         same(x.groupMultipleMatching, y.groupMultipleMatching) &&
         same(x.groupSingleMatching, y.groupSingleMatching) &&
         same(x.textureRotation, y.textureRotation) && same(x.vectorMatching, y.vectorMatching) &&
         same(x.facePositionMatching, y.facePositionMatching) &&
         same(x.faceCountMatching, y.faceCountMatching) &&
         same(x.faceAngleMatching, y.faceAngleMatching) &&
         same(x.sameFaceAngleAdvantage, y.sameFaceAngleAdvantage);
}

MainDialog::MainDialog(FileChooser& chooser, RunFunction run, SaveFunction save, QWidget* parent)
    : QDialog(parent), chooser_(chooser), run_(std::move(run)), save_(std::move(save)) {
  port_ = makePort(this);
  runProgress_.context = &watch_;
  runProgress_.report = watchRun;
  runProgress_.cancelRequested = cancelWatched;
  port_.runProgress = &runProgress_;
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kDialogCaption));
  setWindowIcon(programIcon());
  buildControls();
  loadSettings(&port_);
  progressList_->scrollToTop();  // the notes read from their first line
  alignBox_->setChecked((matchSettings.sw & kSwitchAlignParts) != 0);
  keepTargetBox_->setChecked((matchSettings.sw & kSwitchKeepTarget) != 0);
}

MainDialog::~MainDialog() {
  releaseKeptResult(&kept_);
}

QWidget* MainDialog::control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void MainDialog::buildControls() {
  DialogUnits units = dialogUnitsOf(font());
  setFixedSize(units.toPixelsX(kDialogWidth + kPreviewPaneWidth),
               units.toPixelsY(kDialogHeight + kDialogGrowth));
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
  buildProgressRow(units);
  referenceBox_->setFocus();
}

// The preview pane to the right of the template's controls, from the top down to the progress
// row.
void MainDialog::buildPreviewPane(const DialogUnits& units) {
  preview_ = new PreviewPane(this);
  int left = units.toPixelsX(kDialogWidth + 4), top = units.toPixelsY(4);
  int row = units.toPixelsY(kProgressRowHeight + 4);
  preview_->setGeometry(left, top, width() - left - units.toPixelsX(4), height() - 2 * top - row);
  connect(preview_, &PreviewPane::savePictureRequested, this, &MainDialog::onSavePicture);
}

// Under the preview pane: the stage and the time taken, the progress bar, "Cancel".
void MainDialog::buildProgressRow(const DialogUnits& units) {
  const int left = units.toPixelsX(kDialogWidth + 4), right = width() - units.toPixelsX(4);
  const int height = units.toPixelsY(kProgressRowHeight);
  const int top = this->height() - units.toPixelsY(4) - height;
  const int buttonWidth = units.toPixelsX(40), barWidth = units.toPixelsX(70);
  const int gap = units.toPixelsX(3);
  stageLabel_ = new QLabel(this);
  stageLabel_->setObjectName(QStringLiteral("runStage"));
  stageLabel_->setGeometry(left, top, right - left - buttonWidth - barWidth - 2 * gap, height);
  progressBar_ = new QProgressBar(this);
  progressBar_->setRange(0, 1000);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setGeometry(stageLabel_->geometry().right() + gap, top, barWidth, height);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setAutoDefault(false);
  cancelButton_->setEnabled(false);
  cancelButton_->setFocusPolicy(Qt::NoFocus);  // the template's tab order stays as it is
  cancelButton_->setGeometry(right - buttonWidth, top, buttonWidth, height);
  connect(cancelButton_, &QPushButton::clicked, this, &MainDialog::cancelRun);
  progressTimer_.setInterval(100);
  connect(&progressTimer_, &QTimer::timeout, this, &MainDialog::showRunProgress);
}

void MainDialog::showRunProgress() {
  const char* stage = watch_.stage.load();
  QString text = QString::fromLatin1(stage ? stage : "starting");
  if (watch_.parts > 0)
    text += QStringLiteral(", part %1 of %2").arg(watch_.part).arg(watch_.parts);
  if (watch_.cancel) text = QStringLiteral("cancelling");
  stageLabel_->setText(text + QStringLiteral("  ") + minutesAndSeconds(runClock_.elapsed()));
  progressBar_->setValue(watch_.permille);
}

void MainDialog::cancelRun() {
  if (!running_ || saving_) return;  // a file being written is finished first
  watch_.cancel = 1;
  cancelButton_->setEnabled(false);
  showRunProgress();
}

// ---- handlers ----

// With no recent target, the target chooser starts in the folder of the reference's path.
QString MainDialog::chooseDxfFile(ChooserKind kind) {
  const LineList* recent = kind == ChooserKind::openReference ? referenceList : targetList;
  QString fallback = QDir::homePath();
  if (kind == ChooserKind::openTarget) {
    QString referenceFolder = splitStartPath(QFile::decodeName(trimmedPath(referenceBox_))).first;
    if (!referenceFolder.isEmpty() && QDir(referenceFolder).exists()) fallback = referenceFolder;
  }
  return chooser_.choose(this, chooserRequest(kind, recent, fallback));
}

void MainDialog::onSavePicture() {
  if (running_ || closed_ || !preview_->hasModel()) return;
  QString chosen = chooseDxfFile(ChooserKind::savePicture);
  if (chosen.isEmpty()) return;
  QString reason;
  if (!savePreviewPicture(QFile::encodeName(chosen).constData(), kept_, preview_->view(), &reason))
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
  // 4: the run, unless the kept result comes from the same inputs; on failure the progress
  // list already says why.
  RunInputs inputs = currentRunInputs(referencePath, targetPath);
  if (keptInputs_ && kept_.how && sameRunInputs(*keptInputs_, inputs)) {
    addListLine(QStringLiteral("Same files and settings as the last run: its result is saved"));
  } else {
    keptInputs_.reset();
    if (runOffThisThread(referencePath, targetPath) == 0) return;
    addTallyLines(&port_, kept_.tally, (matchSettings.sw & kSwitchAlignParts) ? 1 : 0);
    keptInputs_ = inputs;
  }
  // 5: the path boxes show the lists' new order.
  fillPathBoxes(&port_);
  // 6, 7: the output path, then the file.
  QString chosen = chooseDxfFile(ChooserKind::saveTarget);
  if (chosen.isEmpty()) return;
  saveResult(chosen);
}

// Writes the kept result to `path` on a thread of its own ("writing" under the preview, the
// controls disabled meanwhile): "Written: PATH", or the write error and its reason.
void MainDialog::saveResult(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const QString runTook = stageLabel_->text();
  const int runShown = progressBar_->value();
  stageLabel_->setText(QStringLiteral("writing"));
  progressBar_->setRange(0, 0);  // busy: the writer does not tell how far it is
  running_ = saving_ = true;
  setControlsEnabled(false);
  int error = 0;
  const bool written = workOffThisThread([&] {
                         errno = 0;
                         const int saved = save_(name.constData(), kept_);
                         error = errno;
                         returnFreedMemory();  // the writer's buffers
                         return saved;
                       }) != 0;
  running_ = saving_ = false;
  setControlsEnabled(true);
  progressBar_->setRange(0, 1000);
  progressBar_->setValue(runShown);
  stageLabel_->setText(runTook);
  if (written) {
    addListLine(QStringLiteral("Written: ") + path);
    return;
  }
  addProgressLine(&port_, "%s", kWriteErrorLine);
  if (error == ESTALE && kept_.keptMatch && keptInputs_) {  // saveKeptResultTarget's refusal
    addListLine(
        QStringLiteral("cannot write %1: %2 no longer holds the faces the run read; run again")
            .arg(path, QFile::decodeName(keptInputs_->targetPath)));
    return;
  }
  char reason[320];
  fileWriteProblem(name.constData(), error, reason, sizeof reason);
  addListLine(QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(reason)));
}

// `work` goes on a thread of its own while this thread waits in a local event loop, so the
// window repaints and lines sent from there appear as they are added. Returns its answer.
int MainDialog::workOffThisThread(const std::function<int()>& work) {
  int result = 0;
  std::atomic<bool> finished{false};
  QEventLoop loop;
  std::thread worker([&] {
    result = work();
    finished = true;
    // Posted after every line the work sent, so the loop ends once all of them are shown.
    QMetaObject::invokeMethod(
        this, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  // When the application is quitting, every event loop returns at once; keep serving the
  // work's calls to this thread until it has finished.
  while (!finished)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  worker.join();
  QCoreApplication::sendPostedEvents(this);
  return result;
}

// The run goes on a thread of its own (workOffThisThread). The controls are disabled and
// onSaveTarget, the choosers and closing refuse meanwhile, so no second run can start.
int MainDialog::runOffThisThread(const QByteArray& referencePath, const QByteArray& targetPath) {
  QPointer<QWidget> focused = focusWidget();
  running_ = true;
  setControlsEnabled(false);
  preview_->forgetResult();  // the run replaces the result it shows
  releaseKeptResult(&kept_);
  nextQueuedLine_ = progressList_->count();
  watch_.stage = nullptr, watch_.part = watch_.parts = watch_.permille = watch_.cancel = 0;
  runClock_.start();
  progressBar_->setValue(0);
  cancelButton_->setEnabled(true);
  showRunProgress();
  progressTimer_.start();
  memoryDetail_.clear();
  holdErrorBoxes(true);
  const int result = workOffThisThread([&] {
    int ran = run_(&port_, referencePath.constData(), targetPath.constData());
    // Idle, the dialog holds only what saving the result and the preview need.
    if (ran && !keepResultAndReleaseRun(&kept_)) {
      addDetailLine(&port_,
                    "out of memory while keeping the result: close other programs and "
                    "run again");
      ran = 0;
    } else if (!ran) {
      releaseRunData();
      returnFreedMemory();
    }
    return ran;
  });
  holdErrorBoxes(false);
  progressTimer_.stop();
  cancelButton_->setEnabled(false);
  progressBar_->setValue(result ? 1000 : 0);
  stageLabel_->setText(
      (watch_.cancel ? QStringLiteral("cancelled after ") : QStringLiteral("took ")) +
      minutesAndSeconds(runClock_.elapsed()));
  running_ = false;
  setControlsEnabled(true);
  if (result) preview_->showResult(&kept_);
  // Out of memory: the entry's name, then what ran out and what to try.
  for (const QString& message : takeHeldErrorBoxes())
    showErrorBox(
        QString(message + QLatin1Char('\n') + memoryDetail_).trimmed().toUtf8().constData());
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
  if (running_) return cancelRun();
  if (closed_) return;
  closed_ = true;
  QDialog::reject();
  setAlignParts(alignBox_->isChecked());
  setKeepTarget(keepTargetBox_->isChecked());
  saveSettingsAndLists();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    cancelRun();
    return;
  }
  QDialog::closeEvent(event);  // reaches reject()
}

// ---- DialogPort services ----

int MainDialog::addListLine(const QString& line) {
  progressList_->addItem(line);
  progressList_->scrollToBottom();
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
        d, [d, text] { d->addListLine(text); }, Qt::QueuedConnection);
    return d->nextQueuedLine_++;
  };
  port.addDetailLine = [](DialogPort* self, const char* line) {
    MainDialog* d = dialogOf(self);
    QString text = QString::fromUtf8(line ? line : "");
    if (text.startsWith(QLatin1String("out of memory"))) d->memoryDetail_ = text;
    return d->port_.addListLine(self, line);
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
