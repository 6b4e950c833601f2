#include "platform/RecordingController.h"

namespace platform {

void RecordingController::record(std::string name, Value argument) {
    std::function<void(const Call&)> observer;
    Call call{std::move(name), std::move(argument)};
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        observer = observer_;
    }
    if (observer) observer(call);
}

void RecordingController::setCallObserver(std::function<void(const Call&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void RecordingController::scriptAlertAnswers(std::vector<int> answers) {
    std::lock_guard lock(mutex_);
    answers_.assign(answers.begin(), answers.end());
}
void RecordingController::setDriveDictArray(Array drives) {
    std::lock_guard lock(mutex_);
    drives_ = std::move(drives);
}
void RecordingController::setVolumeDictArray(Array volumes) {
    std::lock_guard lock(mutex_);
    volumes_ = std::move(volumes);
}
void RecordingController::setScanMode(ScanMode mode) {
    std::lock_guard lock(mutex_);
    scanMode_ = mode;
}

std::vector<RecordingController::Call> RecordingController::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}
std::vector<std::string> RecordingController::callNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& c : calls_)
        names.push_back(c.name);
    return names;
}
std::vector<Value> RecordingController::callsNamed(std::string_view name) const {
    std::lock_guard lock(mutex_);
    std::vector<Value> out;
    for (const auto& c : calls_)
        if (c.name == name) out.push_back(c.argument);
    return out;
}
std::vector<AlertText> RecordingController::alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
}
bool RecordingController::terminateRequested() const {
    std::lock_guard lock(mutex_);
    return terminate_;
}
void RecordingController::clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    alerts_.clear();
    terminate_ = false;
}

void RecordingController::performOnMainThread(std::function<void()> fn, bool) {
    if (fn) fn();
}

void RecordingController::runAlertPanel(const Array& request) {
    record("runAlertPanel:", Value(request));
    std::lock_guard lock(mutex_);
    alerts_.push_back(alertTextFromRequest(request));
}

void RecordingController::postAlertPanel(const Array& request) {
    record("postAlertPanel:", Value(request));
    std::lock_guard lock(mutex_);
    alerts_.push_back(alertTextFromRequest(request));
}

int RecordingController::showAlertPanelWithData(const Dict& request) {
    record("showAlertPanelWithData:", Value(request));
    std::lock_guard lock(mutex_);
    AlertText t;
    t.title = request.get("title").stringValue();
    t.message = request.get("body").stringValue();
    t.defaultButton = request.get("defaultButton").stringValue();
    t.alternateButton = request.get("alternateButton").stringValue();
    t.otherButton = request.get("otherButton").stringValue();
    alerts_.push_back(t);
    int answer = AlertDefaultReturn;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    alertResult_ = answer;
    return answer;
}

int RecordingController::alertResultValue() const {
    std::lock_guard lock(mutex_);
    return alertResult_;
}

void RecordingController::updateButton(const Dict& r) {
    record("updateButton:", Value(r));
}
void RecordingController::updateTextField(const Dict& r) {
    record("updateTextField:", Value(r));
}
void RecordingController::beginSheetWindow(const Dict& r) {
    record("beginSheetWindow:", Value(r));
}
void RecordingController::beginSheetWindowWithContextInfoAndOthers(const Dict& r) {
    record("beginSheetWindowWithContextInfoAndOthers:", Value(r));
}
void RecordingController::endSheetWindow(const Dict& r) {
    record("endSheetWindow:", Value(r));
}
void RecordingController::updateProgressIndicator(const Dict& r) {
    record("updateProgressIndicator:", Value(r));
}
void RecordingController::updateProgress(const Dict& p) {
    record("updateProgress:", Value(p));
}
void RecordingController::updateVolumeScanProgress(const Dict& p) {
    record("updateVolumeScanProgress:", Value(p));
}
void RecordingController::setUpTimer() {
    record("setUpTimer");
}
void RecordingController::setUpTimerForDMedia() {
    record("setUpTimerForDMedia");
}
void RecordingController::invalidateTimer() {
    record("invalidateTimer");
}
void RecordingController::setStopElapsedTimeThread(bool stop) {
    record("setStopElapsedTimeThread", Value(stop));
}
void RecordingController::selectTabViewItemWithIdentifier(const std::string& id) {
    record("selectTabViewItemWithIdentifier:", Value(id));
}
void RecordingController::setZeroTableViewDrivesList(bool zero) {
    record("setZeroTableViewDrivesList:", Value(zero));
}
void RecordingController::terminateApp() {
    record("terminateApp");
    std::lock_guard lock(mutex_);
    terminate_ = true;
}
void RecordingController::destroyVolumeAndBackToPartList() {
    record("destroyVolumeAndBackToPartList");
}
void RecordingController::previewClose() {
    record("previewClose:");
}

ScanMode RecordingController::scanMode() const {
    std::lock_guard lock(mutex_);
    return scanMode_;
}
Array RecordingController::driveDictArray() const {
    std::lock_guard lock(mutex_);
    return drives_;
}
Array RecordingController::volumeDictArray() const {
    std::lock_guard lock(mutex_);
    return volumes_;
}
bool RecordingController::scanInfoOrSavingNotProcessing() const {
    std::lock_guard lock(mutex_);
    return notProcessing_;
}
void RecordingController::setScanInfoOrSavingNotProcessing(bool v) {
    record("setScanInfoOrSavingNotProcessing:", Value(v));
    std::lock_guard lock(mutex_);
    notProcessing_ = v;
}
void RecordingController::rawScanStarted(const Value& argument) {
    record("rawScanStarted:", argument);
}
void RecordingController::rawScanCompleted() {
    record("rawScanCompleted");
}

} // namespace platform
