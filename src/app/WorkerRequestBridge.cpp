#include "app/WorkerRequestBridge.h"

#include "app/AppImages.h"
#include "app/BusyIndicator.h"
#include "app/HoverButton.h"
#include "app/MainWindow.h"
#include "app/ProgressIndicator.h"
#include "app/WindowElements.h"
#include "results/qt/Utf8Text.h"

#include <QAbstractButton>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <memory>

using platform::Array;
using platform::Dict;

namespace {

QString text(const platform::Value& value) {
    return Utf8Text::toQString(value.stringValue());
}

} // namespace

WorkerRequestBridge::WorkerRequestBridge(WindowElements& elements, SheetEndHandler sheetDidEnd)
    : elements_(elements), sheetDidEnd_(std::move(sheetDidEnd)) {}

void WorkerRequestBridge::performOnMainThread(std::function<void()> fn, bool waitUntilDone) {
    if (!fn) return;
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(this, std::move(fn), waitUntilDone ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Alerts

QMessageBox* WorkerRequestBridge::makeAlert(const QString& title, const QString& message, const QString& defaultButton,
                                            const QString& alternateButton, const QString& otherButton,
                                            QAbstractButton** b1, QAbstractButton** b0, QAbstractButton** bm1) {
    auto* box = new QMessageBox(elements_.window());
    box->setWindowTitle(title);
    // Failures (their titles begin with "!") get the caution sign, all other
    // alerts the program's own icon.
    const QPixmap icon = AppImages::imageNamed(title.startsWith(QLatin1Char('!')) ? QStringLiteral("alert-caution")
                                                                                  : QStringLiteral("AppIcon"));
    if (!icon.isNull())
        box->setIconPixmap(icon.scaled(56, 56, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    else
        box->setIcon(QMessageBox::Information);
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; font-size: 14px; min-width: 340px; }"
                                      "QLabel#qt_msgbox_informativelabel { min-width: 340px; }"));
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    // Messages carry paths and names from the medium: never read as markup.
    if (auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setTextFormat(Qt::PlainText);
    *b1 = box->addButton(defaultButton.isEmpty() ? QStringLiteral("OK") : defaultButton, QMessageBox::AcceptRole);
    *b0 = alternateButton.isEmpty() ? nullptr : box->addButton(alternateButton, QMessageBox::RejectRole);
    *bm1 = otherButton.isEmpty() ? nullptr : box->addButton(otherButton, QMessageBox::DestructiveRole);
    box->setDefaultButton(static_cast<QPushButton*>(*b1));
    // Escape and the alert's close box take the alert back where it offers
    // that: its Cancel button, wherever it stands ("No" to the session
    // question on the way out would lose the scan). Elsewhere they answer as
    // the alternate, the other or the only button.
    QAbstractButton* cancel = nullptr;
    for (QAbstractButton* b : {*b1, *b0, *bm1})
        if (b && b->text() == QLatin1String("Cancel")) cancel = b;
    box->setEscapeButton(cancel ? cancel : (*b0 ? *b0 : (*bm1 ? *bm1 : *b1)));
    return box;
}

int WorkerRequestBridge::runAlert(const QString& title, const QString& message, const QString& defaultButton,
                                  const QString& alternateButton, const QString& otherButton) {
    QAbstractButton *b1 = nullptr, *b0 = nullptr, *bm1 = nullptr;
    std::unique_ptr<QMessageBox> box(
        makeAlert(title, message, defaultButton, alternateButton, otherButton, &b1, &b0, &bm1));
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    if (clicked && clicked == b0) return platform::AlertAlternateReturn;
    if (clicked && clicked == bm1) return platform::AlertOtherReturn;
    return platform::AlertDefaultReturn;
}

void WorkerRequestBridge::runAlertPanel(const Array& request) {
    onMain([this, &request] {
        const platform::AlertText t = platform::alertTextFromRequest(request);
        runAlert(Utf8Text::toQString(t.title), Utf8Text::toQString(t.message), Utf8Text::toQString(t.defaultButton),
                 Utf8Text::toQString(t.alternateButton), Utf8Text::toQString(t.otherButton));
    });
}

void WorkerRequestBridge::postAlertPanel(const Array& request) {
    const platform::AlertText t = platform::alertTextFromRequest(request);
    performOnMainThread(
        [this, t] {
            QAbstractButton *b1 = nullptr, *b0 = nullptr, *bm1 = nullptr;
            QMessageBox* box = makeAlert(Utf8Text::toQString(t.title), Utf8Text::toQString(t.message),
                                         Utf8Text::toQString(t.defaultButton), Utf8Text::toQString(t.alternateButton),
                                         Utf8Text::toQString(t.otherButton), &b1, &b0, &bm1);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        },
        false);
}

int WorkerRequestBridge::showAlertPanelWithData(const Dict& request) {
    int answer = platform::AlertDefaultReturn;
    onMain([this, &request, &answer] {
        // The body is shown as it stands, never used as a format.
        answer = runAlert(text(request.get("title")), text(request.get("body")), text(request.get("defaultButton")),
                          text(request.get("alternateButton")), text(request.get("otherButton")));
        alertResultValue_ = answer;
    });
    return answer;
}

// ---------------------------------------------------------------------------
// Buttons and text fields

void WorkerRequestBridge::updateButton(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("button")) return;
        if (auto* button = elements_.find<QAbstractButton>(text(r.get("button")))) applyToButton(*button, r);
    });
}

void WorkerRequestBridge::applyToButton(QAbstractButton& button, const Dict& r) {
    auto* hover = qobject_cast<HoverButton*>(&button);
    if (r.contains("setEnabled")) button.setEnabled(r.get("setEnabled").boolValue());
    if (r.contains("setHidden")) button.setHidden(r.get("setHidden").boolValue());
    if (r.contains("setTitle")) button.setText(text(r.get("setTitle")));
    if (r.contains("setImage")) {
        // Pictures travel by name.
        const QPixmap image = AppImages::imageNamed(text(r.get("setImage")));
        if (hover)
            hover->setImage(image);
        else
            button.setIcon(QIcon(image));
    }
    if (r.contains("setAlternateImagesState") && hover)
        hover->setAlternateImagesState(r.get("setAlternateImagesState").boolValue());
    if (r.contains("resetButton") && hover) hover->resetButton();
}

void WorkerRequestBridge::updateTextField(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("textField") || !r.contains("textField String")) return;
        elements_.setText(text(r.get("textField")), Utf8Text::toQString(r.get("textField String").description()));
    });
}

// ---------------------------------------------------------------------------
// Sheets

void WorkerRequestBridge::beginSheet(QWidget& sheet) {
    // A sheet blocks its window only, and show() returns at once: the main
    // thread goes on serving the worker that opened it.
    sheet.setWindowModality(Qt::WindowModal);
    if (MainWindow* window = elements_.window(); window && sheet.isWindow()) {
        sheet.adjustSize();
        const QRect parent = window->geometry();
        sheet.move(parent.center().x() - sheet.width() / 2, parent.top() + 40);
    }
    sheet.show();
    sheet.raise();
    sheet.activateWindow();
}

void WorkerRequestBridge::beginSheetWindow(const Dict& r) {
    onMain([this, &r] {
        QWidget* sheet = elements_.element(text(r.get("sheetWindow")));
        if (!sheet) return;
        sheetContexts_.remove(sheet);
        beginSheet(*sheet);
    });
}

void WorkerRequestBridge::beginSheetWindowWithContextInfoAndOthers(const Dict& r) {
    onMain([this, &r] {
        QWidget* sheet = elements_.element(text(r.get("sheetWindow")));
        if (!sheet) return;
        beginSheet(*sheet);
        sheetContexts_.insert(sheet, QStringLiteral("window loading drives ended"));
    });
}

void WorkerRequestBridge::endSheet(QWidget* sheet) {
    if (!sheet) return;
    const bool wasOpen = sheet->isVisible();
    if (auto* dialog = qobject_cast<QDialog*>(sheet)) dialog->done(0);
    sheet->hide();
    if (!wasOpen) return;
    if (auto it = sheetContexts_.find(sheet); it != sheetContexts_.end()) {
        const QString context = *it;
        sheetContexts_.erase(it);
        if (sheetDidEnd_) sheetDidEnd_(sheet, 0, context);
    }
}

void WorkerRequestBridge::endSheetWindow(const Dict& r) {
    onMain([this, &r] { endSheet(elements_.element(text(r.get("sheetWindow")))); });
}

// ---------------------------------------------------------------------------
// Progress indicators

void WorkerRequestBridge::updateProgressIndicator(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("progressIndicator")) return;
        if (QWidget* indicator = elements_.element(text(r.get("progressIndicator")))) applyToIndicator(*indicator, r);
    });
}

void WorkerRequestBridge::applyToIndicator(QWidget& indicator, const Dict& r) {
    if (auto* spinner = qobject_cast<BusyIndicator*>(&indicator)) {
        if (r.contains("animation")) {
            if (r.get("animation").boolValue())
                spinner->startAnimation();
            else
                spinner->stopAnimation();
        }
        return;
    }
    auto* bar = qobject_cast<ProgressIndicator*>(&indicator);
    if (!bar) {
        qCritical("The widget named \"%s\" is not a progress indicator", qPrintable(indicator.objectName()));
        return;
    }
    if (r.contains("setIndeterminate")) bar->setIndeterminate(r.get("setIndeterminate").boolValue());
    if (r.contains("animation")) {
        if (r.get("animation").boolValue())
            bar->startAnimation();
        else
            bar->stopAnimation();
    }
    if (r.contains("minValue")) bar->setMinValue(r.get("minValue").doubleValue());
    if (r.contains("maxValue")) bar->setMaxValue(r.get("maxValue").doubleValue());
    if (r.contains("doubleValue")) bar->setDoubleValue(r.get("doubleValue").doubleValue());
    if (r.contains("incrementBy")) bar->incrementBy(r.get("incrementBy").doubleValue());
}
