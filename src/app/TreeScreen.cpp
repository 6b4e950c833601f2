#include "app/TreeScreen.h"

#include "app/BusyIndicator.h"
#include "results/qt/ClearingSearchField.h"
#include "results/qt/OutlineViewHighlightingRow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

TreeScreen::TreeScreen(QWidget* parent)
    : WizardScreen(tr("Found Files"), tr("Mark the files and folders to recover, then save them to another drive."),
                   parent) {
    auto* tools = new QHBoxLayout;
    tools->setSpacing(8);
    auto* fileTypes = new QPushButton(tr("File Types View"), this);
    fileTypes->setObjectName(QStringLiteral("buttonTreeFileTypesToggle"));
    auto* deleted = new QPushButton(tr("Show Deleted"), this);
    deleted->setObjectName(QStringLiteral("buttonTreeShowDeleted"));
    tools->addWidget(fileTypes);
    tools->addWidget(deleted);
    tools->addStretch(1);
    auto* find = new ClearingSearchField(this);
    find->setObjectName(QStringLiteral("findField"));
    find->setClearButtonEnabled(true);
    find->setFixedWidth(200);
    tools->addWidget(find);
    auto* spinner = new BusyIndicator(this);
    spinner->setObjectName(QStringLiteral("findProgress"));
    tools->addWidget(spinner);
    const struct {
        const char* name;
        const char* text;
    } findButtons[] = {
        {"prevButton", QT_TR_NOOP("Previous")},
        {"nextButton", QT_TR_NOOP("Next")},
        {"markAllButton", QT_TR_NOOP("Mark All")},
        {"unmarkAllButton", QT_TR_NOOP("Unmark All")},
    };
    for (const auto& b : findButtons) {
        auto* button = new QPushButton(tr(b.text), this);
        button->setObjectName(QString::fromLatin1(b.name));
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
    totals->addWidget(makeLabel(QStringLiteral("textFieldTotalData"), QString(), "caption", this));
    totals->addWidget(makeLabel(QStringLiteral("textFieldMarkedData"), QString(), "caption", this));
    totals->addStretch(1);
    totals->addWidget(makeLabel(QStringLiteral("findTextField"), QString(), "caption", this));
    totals->addWidget(makeLabel(QStringLiteral("findTextFieldSelectedIndex"), QString(), "caption", this));
    totals->addSpacing(12);
    totals->addWidget(makeLabel(QStringLiteral("textFieldTreeStatus"), QString(), "value", this));
    content()->addLayout(totals);

    addHomeButton(QStringLiteral("buttonGoToHomeFromTreeTab"));
    addHelpButton(QStringLiteral("buttonHelpTreeTab"), QStringLiteral("results"));
    addStepButton(tr("Back"), QStringLiteral("buttonTreeBackToPartitions"));
    addStepButton(tr("Preview"), QStringLiteral("previewButton"));
    addStepButton(tr("Save Recovery Session"), QStringLiteral("saveScanButton"));
    addStepButton(tr("Save Marked Files"), QStringLiteral("saveButton"), true);
}
