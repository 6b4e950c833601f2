#pragma once

#include "platform/Value.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>

class ProgressScreen;
class QLabel;
class Quelvar_Recovery_SoftwareAppDelegate;
class WindowElements;
class WorkerRequestBridge;

// The main thread's side of a running scan or lost-volume search: the
// one-second ticks that hand the scan object's progress dictionary to the
// display, the "Progress" and "PT scan prog" screens that show it, the
// elapsed time, the Stop question, and the hand-over of the result when the
// scan or search completes. The scan objects and the state of the scan
// (status line, start date, found-volume lists) belong to the delegate.
class ProgressDisplay : public QObject {
    Q_OBJECT
public:
    ProgressDisplay(Quelvar_Recovery_SoftwareAppDelegate& delegate, WindowElements& elements,
                    WorkerRequestBridge& requests);

    // The Stop buttons of the two progress screens and the two answers of
    // the question they ask.
    void connectControls();

    void updateProgress(const platform::Dict& progress);
    void updateVolumeScanProgress(const platform::Dict& progress);

    void setUpTimer();
    void setUpTimerForDMedia();
    void invalidateTimer();
    bool timerValid() const { return timerValid_; }

    void startElapsedTimeThread();
    void startElapsedTimeThreadScanForVolumes();
    void setStopElapsedTimeThread(bool stop) { stopElapsedTimeThread_ = stop; }
    bool stopElapsedTimeThread() const { return stopElapsedTimeThread_; }

    void stopTreeThread();
    void abortTreeThread();
    void dontAbortTreeThread();

    // The end of a scan and of a lost-volume search: the Stop question goes,
    // the elapsed time stops, and the result is shown by its screen's hook
    // (or, without one, its screen is selected).
    void showTree();
    void showPTScanList();
    void setTreeDisplayHook(std::function<void()> hook) { treeDisplayHook_ = std::move(hook); }
    void setPTScanListHook(std::function<void()> hook) { ptScanListHook_ = std::move(hook); }

signals:
    // After the live list of the lost-volume search was rebuilt.
    void volumesFoundChanged();

private:
    void timerTick();
    void timerTickForDMedia();
    void elapsedTimeTick(QTimer& timer, QLabel* field);
    // What a progress dictionary shows on the progress screen.
    void showProgress(const ProgressScreen& screen, const platform::Dict& progress);
    void rebuildVolumesFoundTable();
    void endStopQuestion();

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    WindowElements& elements_;
    WorkerRequestBridge& requests_;
    std::atomic<bool> timerValid_{false};
    std::atomic<bool> stopElapsedTimeThread_{false};
    QTimer tick_, tickForDMedia_;
    QTimer elapsedTime_, elapsedTimeScanForVolumes_;
    std::function<void()> treeDisplayHook_, ptScanListHook_;
};
