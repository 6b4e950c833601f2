#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include "app/MainWindow.h"
#include "platform/Paths.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <cmath>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace {
QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Progress bars take 64-bit counts: the true range is kept as properties and
// mapped onto the bar's int range.
constexpr int kBarScale = 1000000;

void applyBarValue(QProgressBar* bar) {
    double lo = bar->property("dMin").toDouble();
    double hi = bar->property("dMax").toDouble();
    double v = bar->property("dValue").toDouble();
    if (bar->maximum() == 0 && bar->minimum() == 0) return; // indeterminate
    bar->setRange(0, kBarScale);
    if (!(hi > lo)) {
        bar->setValue(0);
        return;
    }
    double f = (v - lo) / (hi - lo);
    if (!(f >= 0)) f = 0;
    if (f > 1) f = 1;
    bar->setValue(static_cast<int>(std::lround(f * kBarScale)));
}
} // namespace

Quelvar_Recovery_SoftwareAppDelegate::Quelvar_Recovery_SoftwareAppDelegate(QObject* parent)
    : QObject(parent) {
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] {
        if (activeTick_ && *activeTick_) (*activeTick_)();
    });
    platform::setAppController(this);
}

Quelvar_Recovery_SoftwareAppDelegate::~Quelvar_Recovery_SoftwareAppDelegate() {
    if (platform::appController() == this) platform::setAppController(nullptr);
}

void Quelvar_Recovery_SoftwareAppDelegate::setWindow(MainWindow* w) {
    window_ = w;
}

void Quelvar_Recovery_SoftwareAppDelegate::registerElement(const QString& id, QWidget* widget) {
    elements_.insert(id, widget);
}

QWidget* Quelvar_Recovery_SoftwareAppDelegate::element(const QString& id) const {
    if (auto it = elements_.find(id); it != elements_.end() && *it) return *it;
    if (window_) return window_->findChild<QWidget*>(id);
    return nullptr;
}

void Quelvar_Recovery_SoftwareAppDelegate::setDriveDictArray(Array a) {
    std::lock_guard lock(listsMutex_);
    driveDicts_ = std::move(a);
}
void Quelvar_Recovery_SoftwareAppDelegate::setVolumeDictArray(Array a) {
    std::lock_guard lock(listsMutex_);
    volumeDicts_ = std::move(a);
}
Array Quelvar_Recovery_SoftwareAppDelegate::driveDictArray() const {
    std::lock_guard lock(listsMutex_);
    return driveDicts_;
}
Array Quelvar_Recovery_SoftwareAppDelegate::volumeDictArray() const {
    std::lock_guard lock(listsMutex_);
    return volumeDicts_;
}

void Quelvar_Recovery_SoftwareAppDelegate::performOnMainThread(std::function<void()> fn,
                                                              bool waitUntilDone) {
    if (!fn) return;
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(this, std::move(fn),
                              waitUntilDone ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void Quelvar_Recovery_SoftwareAppDelegate::onMain(const std::function<void()>& fn) {
    performOnMainThread(fn, true);
}

void Quelvar_Recovery_SoftwareAppDelegate::runAlertPanel(const Array& request) {
    onMain([this, &request] {
        platform::AlertText t = platform::alertTextFromRequest(request);
        QMessageBox box(window_);
        box.setWindowTitle(qs(t.title));
        box.setText(qs(t.title));
        box.setInformativeText(qs(t.message));
        box.addButton(qs(t.defaultButton.empty() ? "OK" : t.defaultButton), QMessageBox::AcceptRole);
        if (!t.alternateButton.empty()) box.addButton(qs(t.alternateButton), QMessageBox::RejectRole);
        if (!t.otherButton.empty()) box.addButton(qs(t.otherButton), QMessageBox::DestructiveRole);
        box.exec();
    });
}

int Quelvar_Recovery_SoftwareAppDelegate::showAlertPanelWithData(const Dict& request) {
    onMain([this, &request] {
        QMessageBox box(window_);
        QString title = qs(request.get("title").stringValue());
        box.setWindowTitle(title);
        box.setText(title);
        // The body is shown as it stands, never used as a format.
        box.setInformativeText(qs(request.get("body").stringValue()));
        std::string def = request.get("defaultButton").stringValue();
        QAbstractButton* b1 = box.addButton(qs(def.empty() ? "OK" : def), QMessageBox::AcceptRole);
        QAbstractButton* b0 = nullptr;
        QAbstractButton* bm1 = nullptr;
        if (request.contains("alternateButton"))
            b0 = box.addButton(qs(request.get("alternateButton").stringValue()), QMessageBox::RejectRole);
        if (request.contains("otherButton"))
            bm1 = box.addButton(qs(request.get("otherButton").stringValue()), QMessageBox::DestructiveRole);
        box.setDefaultButton(static_cast<QPushButton*>(b1));
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        int answer = platform::AlertDefaultReturn;
        if (clicked && clicked == b0) answer = platform::AlertAlternateReturn;
        else if (clicked && clicked == bm1) answer = platform::AlertOtherReturn;
        alertResultValue_ = answer;
    });
    return alertResultValue_;
}

void Quelvar_Recovery_SoftwareAppDelegate::updateButton(const Dict& r) {
    onMain([this, &r] {
        auto* button = qobject_cast<QAbstractButton*>(element(qs(r.get("button").stringValue())));
        if (!r.contains("button") || !button) return;
        if (r.contains("setEnabled")) button->setEnabled(r.get("setEnabled").boolValue());
        if (r.contains("setHidden")) button->setHidden(r.get("setHidden").boolValue());
        if (r.contains("setTitle")) button->setText(qs(r.get("setTitle").stringValue()));
        if (r.contains("setImage"))
            button->setIcon(QIcon(qs(platform::resourcePath(r.get("setImage").stringValue()))));
        if (r.contains("setAlternateImagesState"))
            QMetaObject::invokeMethod(button, "setAlternateImagesState",
                                      Q_ARG(bool, r.get("setAlternateImagesState").boolValue()));
        if (r.contains("resetButton")) QMetaObject::invokeMethod(button, "resetButton");
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::updateTextField(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("textField") || !r.contains("textField String")) return;
        QWidget* w = element(qs(r.get("textField").stringValue()));
        QString text = qs(r.get("textField String").description());
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(text);
        else if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::beginSheetWindow(const Dict& r) {
    onMain([this, &r] {
        QWidget* sheet = element(qs(r.get("sheetWindow").stringValue()));
        if (!sheet) return;
        // A sheet is a window-modal dialog over its parent; it never blocks
        // the main thread the way exec() would.
        sheet->setWindowModality(Qt::WindowModal);
        sheet->show();
        sheet->raise();
        sheet->activateWindow();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::beginSheetWindowWithContextInfoAndOthers(const Dict& r) {
    beginSheetWindow(r);
}

void Quelvar_Recovery_SoftwareAppDelegate::endSheetWindow(const Dict& r) {
    onMain([this, &r] {
        QWidget* sheet = element(qs(r.get("sheetWindow").stringValue()));
        if (auto* dialog = qobject_cast<QDialog*>(sheet)) dialog->done(0);
        if (sheet) sheet->hide();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::updateProgressIndicator(const Dict& r) {
    onMain([this, &r] {
        auto* bar = qobject_cast<QProgressBar*>(element(qs(r.get("progressIndicator").stringValue())));
        if (!r.contains("progressIndicator") || !bar) return;
        if (r.contains("setIndeterminate")) {
            if (r.get("setIndeterminate").boolValue()) bar->setRange(0, 0);
            else bar->setRange(0, kBarScale);
        }
        // A bar animates by itself while indeterminate; "animation" has nothing more to do.
        if (r.contains("minValue")) bar->setProperty("dMin", r.get("minValue").doubleValue());
        if (r.contains("maxValue")) bar->setProperty("dMax", r.get("maxValue").doubleValue());
        if (r.contains("doubleValue")) bar->setProperty("dValue", r.get("doubleValue").doubleValue());
        if (r.contains("incrementBy"))
            bar->setProperty("dValue", bar->property("dValue").toDouble() + r.get("incrementBy").doubleValue());
        applyBarValue(bar);
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::updateProgress(const Dict& p) {
    onMain([this, &p] { emit progressUpdated(p); });
}

void Quelvar_Recovery_SoftwareAppDelegate::updateVolumeScanProgress(const Dict& p) {
    onMain([this, &p] { emit volumeScanProgressUpdated(p); });
}

void Quelvar_Recovery_SoftwareAppDelegate::startTick(std::function<void()>* handler) {
    onMain([this, handler] {
        activeTick_ = handler;
        tick_.start();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::setUpTimer() {
    startTick(&timerFire_);
}
void Quelvar_Recovery_SoftwareAppDelegate::setUpTimerForDMedia() {
    startTick(&timerFireDMedia_);
}
void Quelvar_Recovery_SoftwareAppDelegate::invalidateTimer() {
    onMain([this] {
        tick_.stop();
        activeTick_ = nullptr;
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::setStopElapsedTimeThread(bool stop) {
    stopElapsedTimeThread_ = stop;
}

void Quelvar_Recovery_SoftwareAppDelegate::selectTabViewItemWithIdentifier(const std::string& id) {
    onMain([this, &id] {
        if (window_) window_->selectTabViewItemWithIdentifier(qs(id));
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::setZeroTableViewDrivesList(bool zero) {
    zeroTableViewDrivesList_ = zero;
}

void Quelvar_Recovery_SoftwareAppDelegate::terminateApp() {
    onMain([this] {
        previewClose();
        QCoreApplication::quit();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::destroyVolumeAndBackToPartList() {
    // The screens that handle this arrive with the drive and partition lists.
    performOnMainThread([] {}, false);
}

void Quelvar_Recovery_SoftwareAppDelegate::previewClose() {
    onMain([this] {
        if (QWidget* preview = element(QStringLiteral("previewWindow")); preview && preview->isVisible())
            preview->close();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::setScanInfoOrSavingNotProcessing(bool v) {
    scanInfoOrSavingNotProcessing_ = v;
}

void Quelvar_Recovery_SoftwareAppDelegate::rawScanStarted(const Value&) {}
void Quelvar_Recovery_SoftwareAppDelegate::rawScanCompleted() {}
