#include "app/SignatureListController.h"

#include "app/ColorGradientView.h"
#include "app/MainWindow.h"
#include "app/NewSigSheet.h"
#include "app/OutlineCellSig.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/SigListModel.h"
#include "app/SignaturesScreen.h"
#include "results/qt/Utf8Text.h"
#include "signatures/CheckControllerSig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>
#include <algorithm>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace {

const char* const kNoFileTypes = "No file types shown here? Click on \"Load File Types\" button";

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// A text that occurs in the name, case-insensitively; an empty text occurs
// nowhere.
bool occursIn(const QString& text, const std::string& name) {
    return !text.isEmpty() && Utf8Text::toQString(name).contains(text, Qt::CaseInsensitive);
}

} // namespace

SignatureListController* SignatureListController::install(Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    if (SignatureListController* existing = of(delegate)) return existing;
    return new SignatureListController(delegate);
}

SignatureListController* SignatureListController::of(const Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    return delegate.findChild<SignatureListController*>(QString(), Qt::FindDirectChildrenOnly);
}

SignatureListController::SignatureListController(Quelvar_Recovery_SoftwareAppDelegate& delegate)
    : QObject(&delegate), delegate_(delegate), emptySigNode_(std::make_shared<SigNode>()) {
    emptySigNode_->fileTypeSigNode = SigNode::Category;
    emptySigNode_->category = kNoFileTypes;
    model_ = new SigListModel(this);
    model_->setList(&sigRootArray_, emptySigNode_);
    model_->setMarkHandler([this](const std::shared_ptr<SigNode>& node, bool mark) { editMark(node, mark); });
    model_->setSizeHandler([this] { sizeEdited(); });
    connectControls();
}

SignatureListController::~SignatureListController() {
    delete model_;
}

SignaturesScreen* SignatureListController::screen() const {
    MainWindow* window = delegate_.window();
    return window ? window->signaturesScreen() : nullptr;
}

void SignatureListController::setButtonEnabled(QPushButton* (SignaturesScreen::*button)() const, bool enabled) {
    if (SignaturesScreen* s = screen()) (s->*button)()->setEnabled(enabled);
}

void SignatureListController::setText(QLabel* (SignaturesScreen::*field)() const, const std::string& text) {
    if (SignaturesScreen* s = screen()) (s->*field)()->setText(Utf8Text::toQString(text));
}

void SignatureListController::connectControls() {
    SignaturesScreen* s = screen();
    if (!s) return;
    outline_ = s->outlineViewSig();
    if (outline_) {
        outline_->setModel(model_);
        nameCell_ = new OutlineCellSig(this);
        outline_->setItemDelegateForColumn(SigListModel::FileTypesColumn, nameCell_);
        outline_->setSelectionMode(QAbstractItemView::SingleSelection);
        outline_->setSelectionBehavior(QAbstractItemView::SelectRows);
        outline_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        // The row colours tell built-in types from the user's own.
        outline_->setAlternatingRowColors(false);
        QHeaderView* header = outline_->header();
        header->setSectionResizeMode(SigListModel::FileTypesColumn, QHeaderView::Stretch);
        header->setSectionResizeMode(SigListModel::MarkColumn, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(SigListModel::SizeColumn, QHeaderView::ResizeToContents);
        connect(outline_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &SignatureListController::selectionDidChange);
    }
    auto onClick = [this](QAbstractButton* b, void (SignatureListController::*action)()) {
        connect(b, &QAbstractButton::clicked, this, action);
    };
    onClick(s->buttonSigSelectAll(), &SignatureListController::selectAllSig);
    onClick(s->buttonSigDeselectAll(), &SignatureListController::deselectAllSig);
    onClick(s->buttonSigAddFileType(), &SignatureListController::addNewSig);
    onClick(s->buttonSigRemoveFileType(), &SignatureListController::removeFileType);
    onClick(s->buttonSigLoadFileTypes(), &SignatureListController::reloadSigData);
    connect(s->findFTSearchField(), &QLineEdit::returnPressed, this, &SignatureListController::findFileTypes);
    stepper_ = s->stepperFT();
    connect(stepper_, &QSpinBox::valueChanged, this, &SignatureListController::stepperFTClicked);
    gradient_ = s->imageViewSigSpeedGradient();
    sheet_ = s->newSigWindow();
    connect(sheet_->okButton(), &QPushButton::clicked, this, &SignatureListController::addNewSigOKClicked);
    connect(sheet_->cancelButton(), &QPushButton::clicked, this, &SignatureListController::addNewSigCancelled);
    setButtonEnabled(&SignaturesScreen::buttonSigRemoveFileType, false);
}

// ---------------------------------------------------------------------------
// The list

void SignatureListController::reloadOutline() {
    // Adding or deleting a type keeps the categories the user had open.
    std::vector<std::shared_ptr<SigNode>> open;
    if (outline_ && sigRootArray_)
        for (const auto& category : *sigRootArray_)
            if (outline_->isExpanded(model_->indexOf(category.get()))) open.push_back(category);
    model_->reload();
    if (outline_)
        for (const auto& category : open)
            outline_->expand(model_->indexOf(category.get()));
    selectionDidChange();
}

void SignatureListController::loadSigData() {
    sigRootArray_ = SigLists::loadSigData(delegate_.scanMode(), sigDataLoadCount_);
    const bool present = sigRootArray_ && !sigRootArray_->empty();
    for (auto button : {&SignaturesScreen::buttonSigSelectAll, &SignaturesScreen::buttonSigDeselectAll,
                        &SignaturesScreen::buttonSigAddFileType})
        setButtonEnabled(button, present);
    setButtonEnabled(&SignaturesScreen::buttonSigLoadFileTypes, !present);
    setButtonEnabled(&SignaturesScreen::nextButtonSigTab, !markedFileTypes().empty());
    countSig();
    model_->reload();
    selectionDidChange();
}

void SignatureListController::countSig() {
    int marked = 0, unmarked = 0;
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            for (const auto& child : category->children())
                ++(child->selected == 1 ? marked : unmarked);
    const std::size_t categories = categoryCount();
    setText(&SignaturesScreen::textFieldNumMarkedUnmarkedSig,
            utf8(QStringLiteral("Marked: %1, Unmarked: %2").arg(marked).arg(unmarked)));
    setText(&SignaturesScreen::textFieldNumTotalSig,
            utf8(QStringLiteral("Total Signatures: %1").arg(marked + unmarked)));
    setText(&SignaturesScreen::textFieldNumTotalSigCategories,
            utf8(QStringLiteral("Total Categories: %1").arg(categories)));
    if (gradient_) gradient_->setNumMarkedSig(marked, marked + unmarked);
    setText(&SignaturesScreen::findFTStatusTextField, "");
}

void SignatureListController::reloadSigData() {
    ++sigDataLoadCount_;
    loadSigData();
    if (sigRootArray_ && !sigRootArray_->empty()) {
        setButtonEnabled(&SignaturesScreen::buttonSigLoadFileTypes, false);
    } else {
        emptySigNode_->category = sigDataLoadCount_ == 1 ? "Still no file types showing here. Click on \"Load File "
                                                           "Types\" button to reload backup."
                                                         : "Still no file types showing here. Contact support.";
    }
    model_->reload();
}

void SignatureListController::selectAllSig() {
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            CheckControllerSig(category, 1).run();
    model_->marksChanged();
    setButtonEnabled(&SignaturesScreen::nextButtonSigTab, true);
    countSig();
    setText(&SignaturesScreen::findFTStatusTextField, "All marked");
}

void SignatureListController::deselectAllSig() {
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            CheckControllerSig(category, 0).run();
    model_->marksChanged();
    setButtonEnabled(&SignaturesScreen::nextButtonSigTab, false);
    countSig();
    setText(&SignaturesScreen::findFTStatusTextField, "All unmarked");
}

void SignatureListController::editMark(const std::shared_ptr<SigNode>& node, bool mark) {
    CheckControllerSig(node, mark ? 1 : 0).run();
    // Text documents often hold pictures: looking for documents looks for
    // the pictures too.
    if (mark && node->category == "Documents" && (!node->sig() || node->sig()->extension == "rtf") && sigRootArray_)
        for (const auto& category : *sigRootArray_)
            if (category->category == "Images") CheckControllerSig(category, 1).run();
    model_->marksChanged();
    setButtonEnabled(&SignaturesScreen::nextButtonSigTab, !markedFileTypes().empty());
    countSig();
}

void SignatureListController::sizeEdited() {
    // Only a loaded list is written: the placeholder row has no size.
    if (sigRootArray_ && !SigLists::saveSigData(*sigRootArray_, delegate_.scanMode())) QApplication::beep();
}

void SignatureListController::selectionDidChange() {
    bool deletable = false;
    if (outline_) {
        const QModelIndexList rows = outline_->selectionModel()->selectedRows();
        if (rows.size() == 1 && !model_->isPlaceholder(rows.front())) {
            const auto node = model_->nodeAt(rows.front());
            deletable = node && (!node->sig() || !node->sig()->preInstalled) && node->children().empty();
        }
    }
    setButtonEnabled(&SignaturesScreen::buttonSigRemoveFileType, deletable);
}

void SignatureListController::removeFileType() {
    if (!outline_) return;
    const QModelIndexList rows = outline_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const auto node = model_->nodeAt(rows.front());
    if (!node) return;
    const auto outcome =
        SigLists::removeFileType(sigRootArray_ ? &*sigRootArray_ : nullptr, *node, delegate_.scanMode());
    if (outcome == SigLists::RemoveOutcome::Unchanged) return;
    reloadOutline();
    if (outcome == SigLists::RemoveOutcome::SaveFailed) QApplication::beep();
    countSig();
}

// ---------------------------------------------------------------------------
// The add sheet

void SignatureListController::endSheet() {
    delegate_.endSheetWindow(Dict{{"sheetWindow", "newSigWindow"}});
}

NewSigSheet* SignatureListController::newSigWindow() const {
    return sheet_;
}

void SignatureListController::addNewSig() {
    if (!sheet_) return;
    if (sheet_->isVisible()) endSheet();
    sheet_->category()->clear();
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            sheet_->category()->addItem(Utf8Text::toQString(category->category));
    for (QLineEdit* field :
         {sheet_->software(), sheet_->extension(), sheet_->header(), sheet_->offset(), sheet_->maxFileSize()})
        field->clear();
    delegate_.beginSheetWindow(Dict{{"sheetWindow", "newSigWindow"}});
}

void SignatureListController::addNewSigOKClicked() {
    // Adding needs a list to add to: without one the list file would be
    // replaced by the new type alone.
    if (!sheet_ || !sigRootArray_) return;
    const SigLists::NewFileTypeTexts texts{
        utf8(sheet_->category()->currentText()), utf8(sheet_->software()->text()), utf8(sheet_->extension()->text()),
        utf8(sheet_->header()->text()),          utf8(sheet_->offset()->text()),   utf8(sheet_->maxFileSize()->text())};
    const SigLists::AddOutcome outcome = SigLists::addFileType(texts, *sigRootArray_, delegate_.scanMode());
    if (!outcome.message.empty()) {
        delegate_.showAlertPanelWithData(Dict{{"title", "!Error"}, {"body", outcome.message}, {"defaultButton", "OK"}});
        return;
    }
    reloadOutline();
    if (!outcome.listSaved) QApplication::beep();
    if (!outcome.backupSaved) QApplication::beep();
    endSheet();
    countSig();
}

void SignatureListController::addNewSigCancelled() {
    endSheet();
}

// ---------------------------------------------------------------------------
// The find

void SignatureListController::findString(const std::string& text, const std::shared_ptr<SigNode>& node) {
    if (!node) return;
    if (!node->sig()) {
        for (const auto& child : node->children())
            findString(text, child);
        return;
    }
    const QString wanted = Utf8Text::toQString(text);
    const Sig& sig = *node->sig();
    const auto& variations = sig.arrayExtNameVariations();
    const bool found =
        occursIn(wanted, sig.software) || occursIn(wanted, node->category) || occursIn(wanted, sig.extension) ||
        std::any_of(variations.begin(), variations.end(), [&](const std::string& v) { return occursIn(wanted, v); });
    if (found && std::find(arrayFTFound_.begin(), arrayFTFound_.end(), node) == arrayFTFound_.end())
        arrayFTFound_.push_back(node);
}

void SignatureListController::findFileTypes() {
    indexFT_ = 0;
    if (stepper_) {
        const QSignalBlocker quiet(stepper_.data());
        stepper_->setEnabled(true);
        stepper_->setValue(0);
    }
    arrayFTFound_.clear();
    const SignaturesScreen* s = screen();
    const std::string text = s ? utf8(s->findFTSearchField()->text()) : std::string();
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            findString(text, category);
    if (arrayFTFound_.empty()) {
        setText(&SignaturesScreen::findFTStatusTextField, "No entry found");
        if (stepper_) stepper_->setEnabled(false);
        return;
    }
    if (stepper_) {
        const QSignalBlocker quiet(stepper_.data());
        stepper_->setRange(0, static_cast<int>(arrayFTFound_.size()) - 1);
    }
    selectFoundSig();
    setText(&SignaturesScreen::findFTStatusTextField,
            arrayFTFound_.size() == 1 ? std::string("1 entry found and marked")
                                      : utf8(QStringLiteral("%1 entries found and marked").arg(arrayFTFound_.size())));
    stepperFTClicked();
}

void SignatureListController::selectFoundSig() {
    for (const auto& node : arrayFTFound_)
        CheckControllerSig(node, 1).run();
    model_->marksChanged();
    if (!arrayFTFound_.empty()) setButtonEnabled(&SignaturesScreen::nextButtonSigTab, true);
    countSig();
}

void SignatureListController::stepperFTClicked() {
    if (arrayFTFound_.empty() || !stepper_ || !outline_) return;
    indexFT_ = stepper_->value();
    if (indexFT_ < 0 || indexFT_ >= static_cast<int>(arrayFTFound_.size())) return;
    const SigNode* node = arrayFTFound_[static_cast<std::size_t>(indexFT_)].get();
    std::vector<std::shared_ptr<SigNode>> ancestors;
    for (auto a = node->parent(); a; a = a->parent())
        ancestors.push_back(a);
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it)
        outline_->expand(model_->indexOf(it->get()));
    const QModelIndex row = model_->indexOf(node);
    // A type of a list since replaced is no longer shown.
    if (!row.isValid()) return;
    outline_->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    outline_->scrollTo(row);
}

// ---------------------------------------------------------------------------
// For the scan wizard

std::size_t SignatureListController::categoryCount() const {
    return sigRootArray_ ? sigRootArray_->size() : 0;
}

void SignatureListController::emptySigRootArray() {
    sigRootArray_ = SigRootArray{};
    model_->reload();
    selectionDidChange();
}

Array SignatureListController::markedFileTypes() const {
    Array marked;
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            for (const auto& child : category->children())
                if (child->selected == 1) marked.emplace_back(child);
    return marked;
}

Array SignatureListController::fileTypesWithExtensions(const std::vector<std::string>& extensions) const {
    Array types;
    if (sigRootArray_)
        for (const auto& category : *sigRootArray_)
            for (const auto& child : category->children())
                if (child->sig() &&
                    std::find(extensions.begin(), extensions.end(), child->sig()->extension) != extensions.end())
                    types.emplace_back(child);
    return types;
}
