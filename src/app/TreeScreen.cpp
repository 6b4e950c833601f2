#include "app/TreeScreen.h"

#include "app/AppImages.h"
#include "app/BusyIndicator.h"
#include "results/qt/ClearingSearchField.h"
#include "results/qt/OutlineViewHighlightingRow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// Presses of these buttons count once even when they come as a double click:
// each press starts a rearrangement of the whole found-file tree.
class SingleClickFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::MouseButtonDblClick; }
};

} // namespace

TreeScreen::TreeScreen(QWidget* parent)
    : WizardScreen(tr("Found Files"), tr("Mark the files and folders to recover, then save them to another drive."),
                   parent) {
    auto* tools = new QHBoxLayout;
    tools->setSpacing(8);
    auto* fileTypes = buttonTreeFileTypesToggle_ = new QPushButton(tr("File Types View"), this);
    fileTypes->setObjectName(QStringLiteral("buttonTreeFileTypesToggle"));
    auto* deleted = buttonTreeShowDeleted_ = new QPushButton(tr("Show Deleted"), this);
    deleted->setObjectName(QStringLiteral("buttonTreeShowDeleted"));
    fileTypes->setIcon(QIcon(AppImages::imageNamed(QStringLiteral("file-types-view"))));
    deleted->setIcon(QIcon(AppImages::imageNamed(QStringLiteral("folder-delete"))));
    auto* singleClick = new SingleClickFilter(this);
    for (QPushButton* toggle : {fileTypes, deleted}) {
        toggle->installEventFilter(singleClick);
        tools->addWidget(toggle);
    }
    tools->addStretch(1);
    auto* find = findField_ = new ClearingSearchField(this);
    find->setObjectName(QStringLiteral("findField"));
    find->setClearButtonEnabled(true);
    find->setFixedWidth(200);
    find->setTitleString(QStringLiteral("Find"));
    find->setProperty("title", find->titleString());
    tools->addWidget(find);
    findProgress_ = new BusyIndicator(this);
    findProgress_->setObjectName(QStringLiteral("findProgress"));
    tools->addWidget(findProgress_);
    // The find's steps wait for a find to find something.
    const struct {
        const char* name;
        const char* text;
        const char* tip;
        QPushButton* TreeScreen::*member;
    } findButtons[] = {
        {"prevButton", QT_TR_NOOP("Previous"), "Go To Previous (Found)", &TreeScreen::prevButton_},
        {"nextButton", QT_TR_NOOP("Next"), "Go To Next (Found)", &TreeScreen::nextButton_},
        {"markAllButton", QT_TR_NOOP("Mark All"), "Mark All Found", &TreeScreen::markAllButton_},
        {"unmarkAllButton", QT_TR_NOOP("Unmark All"), "Unmark All Found", &TreeScreen::unmarkAllButton_},
    };
    for (const auto& b : findButtons) {
        auto* button = this->*b.member = new QPushButton(tr(b.text), this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setToolTip(QString::fromLatin1(b.tip));
        button->setEnabled(false);
        tools->addWidget(button);
    }
    content()->addLayout(tools);

    // The columns and rows come from the found-file model that the result
    // screen's controller installs.
    auto* outline = outlineViewData_ = new OutlineViewHighlightingRow(this);
    outline->setObjectName(QStringLiteral("outlineViewData"));
    outline->setAlternatingRowColors(true);
    outline->setUniformRowHeights(true);
    content()->addWidget(outline, 1);

    auto* totals = new QHBoxLayout;
    totals->setSpacing(18);
    for (auto [label, name] : {std::pair{&textFieldTotalData_, "textFieldTotalData"},
                               {&textFieldMarkedData_, "textFieldMarkedData"},
                               {&findTextField_, "findTextField"},
                               {&findTextFieldSelectedIndex_, "findTextFieldSelectedIndex"}}) {
        if (label == &findTextField_) totals->addStretch(1);
        *label = makeLabel(QString::fromLatin1(name), QStringLiteral(" "), "caption", this);
        totals->addWidget(*label);
    }
    totals->addSpacing(12);
    textFieldTreeStatus_ = makeLabel(QStringLiteral("textFieldTreeStatus"), QString(), "value", this);
    totals->addWidget(textFieldTreeStatus_);
    content()->addLayout(totals);

    addHomeButton(QStringLiteral("buttonGoToHomeFromTreeTab"), 16);
    addHelpButton(QStringLiteral("buttonHelpTreeTab"), QStringLiteral("results"));
    buttonTreeBackToPartitions_ = addStepButton(tr("Back"), QStringLiteral("buttonTreeBackToPartitions"));
    QPushButton* preview = previewButton_ = addStepButton(tr("Preview"), QStringLiteral("previewButton"));
    preview->setToolTip(QStringLiteral("Press this button after selecting a file OR double click a file name\n"
                                       "OR hover the mouse over a file name to see its tooltip."));
    preview->setEnabled(false);
    saveScanButton_ = addStepButton(tr("Save Recovery Session"), QStringLiteral("saveScanButton"));
    saveScanButton_->setToolTip(QStringLiteral("Helps in reloading data tree"));
    QPushButton* save = saveButton_ = addStepButton(tr("Save Marked Files"), QStringLiteral("saveButton"), true);
    save->setToolTip(QStringLiteral("Save Selected Files"));
    // Nothing is marked before a tree is shown.
    save->setEnabled(false);
}
