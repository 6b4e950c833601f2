#pragma once

#include "platform/AppController.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

class QAbstractButton;
class QMessageBox;
class QWidget;
class WindowElements;

// Carries the engine's interface requests from the worker threads to the
// main thread and dispatches each to its typed handler there: alerts,
// buttons, text fields, sheets and progress indicators. A worker's request
// is a blocking queued call, so its request object stays alive and
// unchanged until the main thread is done with it; on the main thread the
// request runs at once. The main thread itself never sleeps or waits for a
// worker.
class WorkerRequestBridge : public QObject {
    Q_OBJECT
public:
    // sheetDidEnd is told when a sheet begun with a context ends.
    using SheetEndHandler = std::function<void(QWidget* sheet, int returnCode, const QString& contextInfo)>;
    WorkerRequestBridge(WindowElements& elements, SheetEndHandler sheetDidEnd);

    // Runs fn on the main thread; with waitUntilDone the call returns once
    // fn has run. Called on the main thread it runs fn directly.
    void performOnMainThread(std::function<void()> fn, bool waitUntilDone);
    void onMain(const std::function<void()>& fn) { performOnMainThread(fn, true); }

    // A modal alert on the main thread; the answer as alert panels report
    // it (platform::AlertReturn).
    int runAlert(const QString& title, const QString& message, const QString& defaultButton,
                 const QString& alternateButton, const QString& otherButton);

    // The requests, from any thread.
    void runAlertPanel(const platform::Array& request);
    // Queued to the main thread and shown there window-modal, without a
    // nested event loop; the caller goes on at once and the answer is
    // dropped.
    void postAlertPanel(const platform::Array& request);
    int showAlertPanelWithData(const platform::Dict& request);
    int alertResultValue() const { return alertResultValue_; }
    void updateButton(const platform::Dict& request);
    void updateTextField(const platform::Dict& request);
    void beginSheetWindow(const platform::Dict& request);
    void beginSheetWindowWithContextInfoAndOthers(const platform::Dict& request);
    void endSheetWindow(const platform::Dict& request);
    void updateProgressIndicator(const platform::Dict& request);

    // Ends a sheet on the main thread (its end handler runs if it was begun
    // with a context); nothing for a sheet that is not open.
    void endSheet(QWidget* sheet);

private:
    // The alert box as every alert looks, its buttons added; the three
    // buttons, null where absent, through the last arguments.
    QMessageBox* makeAlert(const QString& title, const QString& message, const QString& defaultButton,
                           const QString& alternateButton, const QString& otherButton, QAbstractButton** b1,
                           QAbstractButton** b0, QAbstractButton** bm1);
    void applyToButton(QAbstractButton& button, const platform::Dict& request);
    void applyToIndicator(QWidget& indicator, const platform::Dict& request);
    void beginSheet(QWidget& sheet);

    WindowElements& elements_;
    SheetEndHandler sheetDidEnd_;
    // Sheets begun with a context, and that context.
    QHash<QWidget*, QString> sheetContexts_;
    std::atomic<int> alertResultValue_{platform::AlertDefaultReturn};
};
