#pragma once

// What makes the "File Types" screen work: the list of the scan mode in the
// outline with its marks, sizes and counts, mark all and unmark all, adding
// a type of the user's own through the add sheet, deleting one, "Load File
// Types" when no list could be read, and the find with its stepper. The list
// files and the checks of a new type are SigLists'; the marking rule is
// CheckControllerSig's. The scan wizard reads the marked types from here.

#include "platform/Value.h"
#include "signatures/SigLists.h"

#include <QObject>
#include <QPointer>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ColorGradientView;
class NewSigSheet;
class OutlineCellSig;
class QAbstractButton;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeView;
class Quelvar_Recovery_SoftwareAppDelegate;
class SigListModel;
class SignaturesScreen;

class SignatureListController : public QObject {
    Q_OBJECT
public:
    // Makes the controller of the delegate's window (a child of the
    // delegate) and connects the screen's controls.
    static SignatureListController* install(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    // The installed controller, or nullptr.
    static SignatureListController* of(const Quelvar_Recovery_SoftwareAppDelegate& delegate);
    // The outline lets go of the list before the list goes.
    ~SignatureListController() override;

    // --- the list (main thread) ---
    // Reads the list of the delegate's scan mode (its twin from the second
    // "Load File Types" on), sets the buttons, counts and shows it.
    void loadSigData();
    void setSigDataLoadCount(int count) { sigDataLoadCount_ = count; }
    int sigDataLoadCount() const { return sigDataLoadCount_; }
    void countSig();
    // "Load File Types".
    void reloadSigData();
    void selectAllSig();
    void deselectAllSig();
    // Deletes the selected user type or empty category and writes the list.
    void removeFileType();
    // The add sheet: opened, and its two buttons.
    void addNewSig();
    void addNewSigOKClicked();
    void addNewSigCancelled();
    // The find: Return in the find field, the stepper, and the marking of
    // what was found.
    void findFileTypes();
    void stepperFTClicked();
    void selectFoundSig();

    // --- for the scan wizard ---
    // Categories of the loaded list; 0 when none is loaded.
    std::size_t categoryCount() const;
    // Skip: the list is emptied and the outline shows the placeholder.
    void emptySigRootArray();
    // Every marked file type of every category, in list order, each as a
    // Value holding its SigNode.
    platform::Array markedFileTypes() const;
    // The file types whose extension is one of these, in list order, each as
    // a Value holding its SigNode. Marks nothing.
    platform::Array fileTypesWithExtensions(const std::vector<std::string>& extensions) const;

    // --- state ---
    const std::optional<SigRootArray>& sigRootArray() const { return sigRootArray_; }
    const std::shared_ptr<SigNode>& emptySigNode() const { return emptySigNode_; }
    const std::vector<std::shared_ptr<SigNode>>& arrayFTFound() const { return arrayFTFound_; }
    int indexFT() const { return indexFT_; }
    SigListModel* model() const { return model_; }
    NewSigSheet* newSigWindow() const;

private:
    explicit SignatureListController(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    void connectControls();
    // The file-type screen; null without a window.
    SignaturesScreen* screen() const;
    void setButtonEnabled(QPushButton* (SignaturesScreen::*button)() const, bool enabled);
    void setText(QLabel* (SignaturesScreen::*field)() const, const std::string& text);
    void editMark(const std::shared_ptr<SigNode>& node, bool mark);
    void sizeEdited();
    void findString(const std::string& text, const std::shared_ptr<SigNode>& node);
    void reloadOutline();
    // The delete button follows the selected row.
    void selectionDidChange();
    void endSheet();

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    std::optional<SigRootArray> sigRootArray_;
    int sigDataLoadCount_ = 0;
    std::shared_ptr<SigNode> emptySigNode_;
    std::vector<std::shared_ptr<SigNode>> arrayFTFound_;
    int indexFT_ = 0;
    SigListModel* model_ = nullptr;
    QPointer<QTreeView> outline_;
    QPointer<QSpinBox> stepper_;
    QPointer<ColorGradientView> gradient_;
    QPointer<NewSigSheet> sheet_;
    OutlineCellSig* nameCell_ = nullptr;
};
