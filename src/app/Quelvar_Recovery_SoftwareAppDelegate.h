#pragma once

#include "platform/AppController.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>

class MainWindow;
class QWidget;

// The application delegate: owns the main window and answers the engine's
// requests on the main thread. A worker's request is carried over with a
// blocking queued call, so the worker's request object stays alive and
// unchanged until the main thread is done with it.
class Quelvar_Recovery_SoftwareAppDelegate : public QObject, public platform::AppController {
    Q_OBJECT
public:
    explicit Quelvar_Recovery_SoftwareAppDelegate(QObject* parent = nullptr);
    ~Quelvar_Recovery_SoftwareAppDelegate() override;

    MainWindow* window() const { return window_; }
    void setWindow(MainWindow* w);

    // Requests name their widgets by identifier; screens register theirs
    // here (the window's children are also found by object name).
    void registerElement(const QString& identifier, QWidget* widget);
    QWidget* element(const QString& identifier) const;

    // Called by the one-second tick while the timer is valid.
    void setTimerFireHandler(std::function<void()> handler) { timerFire_ = std::move(handler); }
    void setTimerFireHandlerForDMedia(std::function<void()> handler) {
        timerFireDMedia_ = std::move(handler);
    }
    void setScanMode(int mode) { scanMode_ = mode; }
    void setDriveDictArray(platform::Array a);
    void setVolumeDictArray(platform::Array a);

    // platform::AppController
    void performOnMainThread(std::function<void()> fn, bool waitUntilDone) override;
    void runAlertPanel(const platform::Array& request) override;
    int showAlertPanelWithData(const platform::Dict& request) override;
    int alertResultValue() const override { return alertResultValue_; }
    void updateButton(const platform::Dict& request) override;
    void updateTextField(const platform::Dict& request) override;
    void beginSheetWindow(const platform::Dict& request) override;
    void beginSheetWindowWithContextInfoAndOthers(const platform::Dict& request) override;
    void endSheetWindow(const platform::Dict& request) override;
    void updateProgressIndicator(const platform::Dict& request) override;
    void updateProgress(const platform::Dict& progress) override;
    void updateVolumeScanProgress(const platform::Dict& progress) override;
    void setUpTimer() override;
    void setUpTimerForDMedia() override;
    void invalidateTimer() override;
    void setStopElapsedTimeThread(bool stop) override;
    void selectTabViewItemWithIdentifier(const std::string& identifier) override;
    void setZeroTableViewDrivesList(bool zero) override;
    void terminateApp() override;
    void destroyVolumeAndBackToPartList() override;
    void previewClose() override;
    int scanMode() const override { return scanMode_; }
    platform::Array driveDictArray() const override;
    platform::Array volumeDictArray() const override;
    bool scanInfoOrSavingNotProcessing() const override { return scanInfoOrSavingNotProcessing_; }
    void setScanInfoOrSavingNotProcessing(bool notProcessing) override;
    void rawScanStarted(const platform::Value& argument) override;
    void rawScanCompleted() override;

    bool stopElapsedTimeThread() const { return stopElapsedTimeThread_; }

signals:
    // Screens that show progress listen to these (main thread).
    void progressUpdated(const platform::Dict& progress);
    void volumeScanProgressUpdated(const platform::Dict& progress);

private:
    // Runs fn on the main thread and waits, or directly when already there.
    void onMain(const std::function<void()>& fn);
    void startTick(std::function<void()>* handler);

    QPointer<MainWindow> window_;
    QHash<QString, QPointer<QWidget>> elements_;
    std::atomic<int> alertResultValue_{platform::AlertDefaultReturn};
    std::atomic<int> scanMode_{0};
    std::atomic<bool> scanInfoOrSavingNotProcessing_{true};
    std::atomic<bool> stopElapsedTimeThread_{false};
    std::atomic<bool> zeroTableViewDrivesList_{false};
    mutable std::mutex listsMutex_;
    platform::Array driveDicts_, volumeDicts_;
    QTimer tick_;
    std::function<void()> timerFire_, timerFireDMedia_;
    std::function<void()>* activeTick_ = nullptr;
};
