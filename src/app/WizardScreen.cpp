#include "app/WizardScreen.h"

#include "app/HoverButton.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

WizardScreen::WizardScreen(const QString& title, const QString& subtitle, QWidget* parent, const QString& subtitleName)
    : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* header = new QWidget(this);
    header->setProperty("role", "header");
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(28, 18, 28, 14);
    headerLayout->setSpacing(4);
    title_ = makeLabel(QString(), title, "screenTitle", header);
    subtitle_ = makeLabel(subtitleName, subtitle, "screenSubtitle", header);
    subtitle_->setWordWrap(true);
    headerLayout->addWidget(title_);
    headerLayout->addWidget(subtitle_);
    outer->addWidget(header);

    auto* body = new QWidget(this);
    content_ = new QVBoxLayout(body);
    content_->setContentsMargins(28, 18, 28, 12);
    content_->setSpacing(10);
    outer->addWidget(body, 1);

    auto* footer = new QWidget(this);
    footer->setProperty("role", "footer");
    footer->setAttribute(Qt::WA_StyledBackground);
    auto* footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(22, 10, 28, 10);
    footerLeft_ = new QHBoxLayout;
    footerLeft_->setSpacing(8);
    footerRight_ = new QHBoxLayout;
    footerRight_->setSpacing(10);
    footerLayout->addLayout(footerLeft_);
    footerLayout->addStretch(1);
    footerLayout->addLayout(footerRight_);
    outer->addWidget(footer);
}

QLabel* WizardScreen::makeLabel(const QString& objectName, const QString& text, const char* role, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    if (!objectName.isEmpty()) label->setObjectName(objectName);
    label->setProperty("role", role);
    // Texts from the medium or a scan are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

HoverButton* WizardScreen::addHomeButton(const QString& objectName, int buttonID) {
    auto* button = new HoverButton(tr("Home"), this);
    button->setObjectName(objectName);
    button->setToolTip(tr("Back to the start page"));
    button->setUpPictures(QStringLiteral("home2"), buttonID, true);
    footerLeft_->addWidget(button);
    home_ = button;
    return button;
}

HoverButton* WizardScreen::addHelpButton(const QString& objectName, const QString& manualSection) {
    auto* button = new HoverButton(tr("Help"), this);
    button->setObjectName(objectName);
    button->setToolTip(tr("Open the manual at this step"));
    button->setUpPictures(QStringLiteral("help"), 0, true);
    connect(button, &QAbstractButton::clicked, this, [this, manualSection] { emit helpRequested(manualSection); });
    footerLeft_->addWidget(button);
    help_ = button;
    return button;
}

QPushButton* WizardScreen::addStepButton(const QString& text, const QString& objectName, bool primary) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(objectName);
    button->setProperty("primary", primary);
    button->setMinimumWidth(96);
    footerRight_->addWidget(button);
    return button;
}

namespace {
QStandardItemModel* headingsOnly(const QStringList& columns, QObject* parent) {
    auto* model = new QStandardItemModel(0, static_cast<int>(columns.size()), parent);
    model->setHorizontalHeaderLabels(columns);
    return model;
}
} // namespace

QTableView* WizardScreen::makeTable(const QString& objectName, const QStringList& columns, QWidget* parent) {
    auto* table = new QTableView(parent);
    table->setObjectName(objectName);
    table->setModel(headingsOnly(columns, table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

QTreeView* WizardScreen::makeOutline(const QString& objectName, const QStringList& columns, QWidget* parent) {
    auto* outline = new QTreeView(parent);
    outline->setObjectName(objectName);
    outline->setModel(headingsOnly(columns, outline));
    outline->setAlternatingRowColors(true);
    outline->setUniformRowHeights(true);
    outline->header()->setStretchLastSection(false);
    outline->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    return outline;
}
