#pragma once

// An application controller without windows: every request is recorded in
// order, "main-thread" work runs inline on the calling thread, and alerts are
// answered from a script (the default button once the script runs out). Used
// by the tests and by the command-line tools.

#include "platform/AppController.h"

#include <deque>
#include <mutex>
#include <vector>

namespace platform {

class RecordingController : public AppController {
public:
    struct Call {
        std::string name;
        Value argument;
    };

    // Answers for the coming dictionary-form alerts, in order.
    void scriptAlertAnswers(std::vector<int> answers);
    void setDriveDictArray(Array drives);
    void setVolumeDictArray(Array volumes);
    void setScanMode(ScanMode mode);
    // Runs after each call is recorded (on the calling thread), so a test can
    // act at a given point of a scan, e.g. press Stop.
    void setCallObserver(std::function<void(const Call&)> observer);

    std::vector<Call> calls() const;
    std::vector<std::string> callNames() const;
    // Calls with this name, in order.
    std::vector<Value> callsNamed(std::string_view name) const;
    // Shown alert texts (both forms), in order.
    std::vector<AlertText> alerts() const;
    bool terminateRequested() const;
    void clear();

    void performOnMainThread(std::function<void()> fn, bool waitUntilDone) override;
    void runAlertPanel(const Array& request) override;
    // Recorded as "postAlertPanel:"; never runs runAlertPanel, so a test
    // whose alerts block sees that the caller did not wait.
    void postAlertPanel(const Array& request) override;
    int showAlertPanelWithData(const Dict& request) override;
    int alertResultValue() const override;
    void updateButton(const Dict& request) override;
    void updateTextField(const Dict& request) override;
    void beginSheetWindow(const Dict& request) override;
    void beginSheetWindowWithContextInfoAndOthers(const Dict& request) override;
    void endSheetWindow(const Dict& request) override;
    void updateProgressIndicator(const Dict& request) override;
    void updateProgress(const Dict& progress) override;
    void updateVolumeScanProgress(const Dict& progress) override;
    void setUpTimer() override;
    void setUpTimerForDMedia() override;
    void invalidateTimer() override;
    void setStopElapsedTimeThread(bool stop) override;
    void selectTabViewItemWithIdentifier(const std::string& identifier) override;
    void setZeroTableViewDrivesList(bool zero) override;
    void terminateApp() override;
    void destroyVolumeAndBackToPartList() override;
    void previewClose() override;
    ScanMode scanMode() const override;
    Array driveDictArray() const override;
    Array volumeDictArray() const override;
    bool scanInfoOrSavingNotProcessing() const override;
    void setScanInfoOrSavingNotProcessing(bool notProcessing) override;
    void rawScanStarted(const Value& argument) override;
    void rawScanCompleted() override;

private:
    void record(std::string name, Value argument = {});

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::vector<AlertText> alerts_;
    std::deque<int> answers_;
    std::function<void(const Call&)> observer_;
    int alertResult_ = AlertDefaultReturn;
    Array drives_, volumes_;
    ScanMode scanMode_ = ScanMode::FastFiles;
    bool notProcessing_ = true;
    bool terminate_ = false;
};

} // namespace platform
