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
    auto* fileTypes = new QPushButton(tr("File Types View"), this);
    fileTypes->setObjectName(QStringLiteral("buttonTreeFileTypesToggle"));
    auto* deleted = new QPushButton(tr("Show Deleted"), this);
    deleted->setObjectName(QStringLiteral("buttonTreeShowDeleted"));
    fileTypes->setIcon(QIcon(AppImages::imageNamed(QStringLiteral("file-types-view"))));
    deleted->setIcon(QIcon(AppImages::imageNamed(QStringLiteral("folder-delete"))));
    auto* singleClick = new SingleClickFilter(this);
    for (QPushButton* toggle : {fileTypes, deleted}) {
        toggle->installEventFilter(singleClick);
        tools->addWidget(toggle);
    }
    tools->addStretch(1);
    auto* find = new ClearingSearchField(this);
    find->setObjectName(QStringLiteral("findField"));
    find->setClearButtonEnabled(true);
    find->setFixedWidth(200);
    find->setTitleString(QStringLiteral("Find"));
    find->setProperty("title", find->titleString());
    tools->addWidget(find);
    auto* spinner = new BusyIndicator(this);
    spinner->setObjectName(QStringLiteral("findProgress"));
    tools->addWidget(spinner);
    // The find's steps wait for a find to find something.
    const struct {
        const char* name;
        const char* text;
        const char* tip;
    } findButtons[] = {
        {"prevButton", QT_TR_NOOP("Previous"), "Go To Previous (Found)"},
        {"nextButton", QT_TR_NOOP("Next"), "Go To Next (Found)"},
        {"markAllButton", QT_TR_NOOP("Mark All"), "Mark All Found"},
        {"unmarkAllButton", QT_TR_NOOP("Unmark All"), "Unmark All Found"},
    };
    for (const auto& b : findButtons) {
        auto* button = new QPushButton(tr(b.text), this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setToolTip(QString::fromLatin1(b.tip));
        button->setEnabled(false);
        tools->addWidget(button);
    }
    content()->addLayout(tools);

    // The columns and rows come from the found-file model that the result
    // screen's controller installs.
    auto* outline = new OutlineViewHighlightingRow(this);
    outline->setObjectName(QStringLiteral("outlineViewData"));
    outline->setAlternatingRowColors(true);
    outline->setUniformRowHeights(true);
    content()->addWidget(outline, 1);

    auto* totals = new QHBoxLayout;
    totals->setSpacing(18);
    totals->addWidget(makeLabel(QStringLiteral("textFieldTotalData"), QStringLiteral(" "), "caption", this));
    totals->addWidget(makeLabel(QStringLiteral("textFieldMarkedData"), QStringLiteral(" "), "caption", this));
    totals->addStretch(1);
    totals->addWidget(makeLabel(QStringLiteral("findTextField"), QStringLiteral(" "), "caption", this));
    totals->addWidget(makeLabel(QStringLiteral("findTextFieldSelectedIndex"), QStringLiteral(" "), "caption", this));
    totals->addSpacing(12);
    totals->addWidget(makeLabel(QStringLiteral("textFieldTreeStatus"), QString(), "value", this));
    content()->addLayout(totals);

    addHomeButton(QStringLiteral("buttonGoToHomeFromTreeTab"), 16);
    addHelpButton(QStringLiteral("buttonHelpTreeTab"), QStringLiteral("results"));
    addStepButton(tr("Back"), QStringLiteral("buttonTreeBackToPartitions"));
    QPushButton* preview = addStepButton(tr("Preview"), QStringLiteral("previewButton"));
    preview->setToolTip(QStringLiteral("Press this button after selecting a file OR double click a file name\n"
                                       "OR hover the mouse over a file name to see its tooltip."));
    preview->setEnabled(false);
    addStepButton(tr("Save Recovery Session"), QStringLiteral("saveScanButton"))
        ->setToolTip(QStringLiteral("Helps in reloading data tree"));
    QPushButton* save = addStepButton(tr("Save Marked Files"), QStringLiteral("saveButton"), true);
    save->setToolTip(QStringLiteral("Save Selected Files"));
    // Nothing is marked before a tree is shown.
    save->setEnabled(false);
}
