// SPDX-License-Identifier: GPL-3.0-or-later
#include "MatchesWindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <set>

#include "matches/MatchFolder.h"
#include "player/app/PlayerWindow.h"

namespace vidora {

namespace {

// The two teams' specs as chips in their class colours, the player's team above.
class TeamsDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        plain.widget->style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
        const QVariantList teams = index.data(MatchTableModel::teamsRole).toList();
        const QFontMetrics metrics(option.font);
        const int line = metrics.height() + 4;
        int y = option.rect.center().y() - line;
        painter->save();
        for (const QVariant& team : teams) {
            int x = option.rect.left() + 4;
            for (const QVariant& member : team.toList()) {
                const QVariantList parts = member.toList();
                const QString name = parts.value(0).toString();
                const QRect chip(x, y + 1, metrics.horizontalAdvance(name) + 8, line - 2);
                painter->setPen(QColor(0x40, 0x40, 0x40));
                painter->setBrush(parts.value(1).value<QColor>());
                painter->drawRoundedRect(chip, 3, 3);
                painter->setPen(Qt::black);
                painter->drawText(chip, Qt::AlignCenter, name);
                x = chip.right() + 4;
            }
            y += line;
        }
        painter->restore();
    }
};

void fillChoice(QComboBox& choice, const QString& anyText, const std::set<std::string>& values) {
    const QString current = choice.currentData().toString();
    QStringList wanted;
    for (const auto& value : values) {
        if (!value.empty()) {
            wanted.append(QString::fromStdString(value));
        }
    }
    QStringList present;
    for (int item = 1; item < choice.count(); ++item) {
        present.append(choice.itemData(item).toString());
    }
    if (present == wanted) {
        return;
    }
    const QSignalBlocker quiet(choice);
    choice.clear();
    choice.addItem(anyText, QString());
    for (const QString& value : wanted) {
        choice.addItem(value, value);
    }
    choice.setCurrentIndex(std::max(0, choice.findData(current)));
}

QDateEdit* dateChoice(const QString& anyText, QWidget* parent) {
    auto* edit = new QDateEdit(parent);
    // The earliest date stands for "any".
    edit->setMinimumDate(QDate(2000, 1, 1));
    edit->setSpecialValueText(anyText);
    edit->setDate(edit->minimumDate());
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setCalendarPopup(true);
    return edit;
}

std::string dayOf(const QDateEdit& edit) {
    return edit.date() == edit.minimumDate() ? std::string()
                                             : edit.date().toString(Qt::ISODate).toStdString();
}

}  // namespace

MatchesWindow::MatchesWindow(Options options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      thumbnails_(options_.cacheFolder + QStringLiteral("/thumbnails")),
      model_(&thumbnails_),
      table_(new QTableView(this)) {
    setWindowTitle(QStringLiteral("Matches"));
    filterModel_.setSourceModel(&model_);

    auto* filters = new QWidget(this);
    auto* row = new QHBoxLayout(filters);
    row->setContentsMargins(6, 6, 6, 0);
    const auto choice = [&](const QString& name, const QString& anyText) {
        auto* box = new QComboBox(filters);
        box->setObjectName(name);
        box->addItem(anyText, QString());
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        row->addWidget(box);
        connect(box, &QComboBox::currentIndexChanged, this, &MatchesWindow::applyFilter);
        return box;
    };
    bracket_ = choice(QStringLiteral("bracket"), QStringLiteral("Any bracket"));
    result_ = choice(QStringLiteral("result"), QStringLiteral("Any result"));
    result_->addItem(QStringLiteral("Won"), QStringLiteral("won"));
    result_->addItem(QStringLiteral("Lost"), QStringLiteral("lost"));
    arena_ = choice(QStringLiteral("arena"), QStringLiteral("Any arena"));
    spec_ = choice(QStringLiteral("spec"), QStringLiteral("Any spec"));
    kept_ = choice(QStringLiteral("kept"), QStringLiteral("Kept or not"));
    kept_->addItem(QStringLiteral("Kept"), QStringLiteral("kept"));
    kept_->addItem(QStringLiteral("Not kept"), QStringLiteral("notKept"));
    from_ = dateChoice(QStringLiteral("From any day"), filters);
    to_ = dateChoice(QStringLiteral("To any day"), filters);
    for (QDateEdit* edit : {from_, to_}) {
        row->addWidget(edit);
        connect(edit, &QDateEdit::dateChanged, this, &MatchesWindow::applyFilter);
    }
    search_ = new QLineEdit(filters);
    search_->setPlaceholderText(QStringLiteral("Search names, specs, arenas"));
    search_->setClearButtonEnabled(true);
    row->addWidget(search_, 1);
    connect(search_, &QLineEdit::textChanged, this, &MatchesWindow::applyFilter);

    table_->setModel(&filterModel_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(MatchTableModel::date, Qt::DescendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setIconSize(QSize(ThumbnailLoader::width, ThumbnailLoader::width * 9 / 16));
    table_->verticalHeader()->setDefaultSectionSize(ThumbnailLoader::width * 9 / 16 + 6);
    table_->verticalHeader()->hide();
    table_->setItemDelegateForColumn(MatchTableModel::teams, new TeamsDelegate(table_));
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    const std::pair<int, int> widths[] = {{MatchTableModel::date, ThumbnailLoader::width + 130},
                                          {MatchTableModel::bracket, 110},
                                          {MatchTableModel::arena, 120},
                                          {MatchTableModel::result, 60},
                                          {MatchTableModel::rating, 110},
                                          {MatchTableModel::length, 60},
                                          {MatchTableModel::spec, 120},
                                          {MatchTableModel::teams, 320},
                                          {MatchTableModel::deaths, 60}};
    for (const auto& [column, width] : widths) {
        table_->setColumnWidth(column, width);
    }
    table_->setWordWrap(true);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(table_, &QTableView::activated, this, &MatchesWindow::play);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MatchesWindow::selectionChanged);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(filters);
    column->addWidget(table_, 1);
    setCentralWidget(central);

    QToolBar* tools = addToolBar(QStringLiteral("Actions"));
    tools->setMovable(false);
    const auto action = [&](const QString& text, const QKeySequence& key, void (MatchesWindow::*slot)()) {
        auto* item = new QAction(text, this);
        item->setShortcut(key);
        item->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(item, &QAction::triggered, this, slot);
        tools->addAction(item);
        table_->addAction(item);
        return item;
    };
    playAction_ = action(QStringLiteral("Play"), QKeySequence(Qt::Key_Space), &MatchesWindow::play);
    keepAction_ =
        action(QStringLiteral("Keep"), QKeySequence(Qt::CTRL | Qt::Key_K), &MatchesWindow::toggleKept);
    deleteAction_ = action(QStringLiteral("Delete"), QKeySequence::Delete, &MatchesWindow::deleteSelected);
    showAction_ = action(QStringLiteral("Show in Folder"), QKeySequence(), &MatchesWindow::showInFolder);
    openWithAction_ = action(QStringLiteral("Open With Player"), QKeySequence(), &MatchesWindow::openWith);
    selectionChanged();

    connect(&filterModel_, &QAbstractItemModel::rowsInserted, this, &MatchesWindow::showCount);
    connect(&filterModel_, &QAbstractItemModel::rowsRemoved, this, &MatchesWindow::showCount);
    connect(&filterModel_, &QAbstractItemModel::modelReset, this, &MatchesWindow::showCount);
    connect(&filterModel_, &QAbstractItemModel::layoutChanged, this, &MatchesWindow::showCount);
    statusBar()->showMessage(QStringLiteral("Listing %1…").arg(options_.moviesFolder));
    resize(1380, 760);

    loader_ = std::make_unique<MatchLoader>(
        options_.moviesFolder.toStdString(),
        (options_.cacheFolder + QStringLiteral("/matches.index")).toStdString(),
        MatchLoader::Callbacks{
            .batch = [this](std::vector<MatchRow> rows) { model_.append(std::move(rows)); },
            .finished =
                [this](std::vector<MatchRow> rows) {
                    model_.merge(std::move(rows));
                    refreshChoices();
                    showCount();
                    selectionChanged();
                }});
}

MatchesWindow::~MatchesWindow() {
    loader_.reset();
}

std::vector<MatchRow> MatchesWindow::selected() const {
    std::vector<MatchRow> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.push_back(model_.summary(filterModel_.mapToSource(index).row()));
    }
    return rows;
}

void MatchesWindow::applyFilter() {
    MatchFilter filter;
    filter.bracket = bracket_->currentData().toString().toStdString();
    filter.arena = arena_->currentData().toString().toStdString();
    filter.spec = spec_->currentData().toString().toStdString();
    const QString result = result_->currentData().toString();
    filter.result = result == QLatin1String("won")    ? MatchFilter::Result::won
                    : result == QLatin1String("lost") ? MatchFilter::Result::lost
                                                      : MatchFilter::Result::any;
    const QString kept = kept_->currentData().toString();
    filter.kept = kept == QLatin1String("kept")      ? MatchFilter::Kept::kept
                  : kept == QLatin1String("notKept") ? MatchFilter::Kept::notKept
                                                     : MatchFilter::Kept::any;
    filter.fromDay = dayOf(*from_);
    filter.toDay = dayOf(*to_);
    filter.search = search_->text().toStdString();
    filterModel_.setFilter(std::move(filter));
    showCount();
}

void MatchesWindow::refreshChoices() {
    std::set<std::string> brackets;
    std::set<std::string> arenas;
    std::set<std::string> specs;
    for (int row = 0; row < model_.rowCount(); ++row) {
        const MatchRow& match = model_.summary(row);
        brackets.insert(match.bracket);
        arenas.insert(match.arena);
        specs.insert(match.playerSpec);
        for (const auto* team : {&match.friends, &match.enemies}) {
            for (const auto& member : *team) {
                specs.insert(member.spec);
            }
        }
    }
    fillChoice(*bracket_, QStringLiteral("Any bracket"), brackets);
    fillChoice(*arena_, QStringLiteral("Any arena"), arenas);
    fillChoice(*spec_, QStringLiteral("Any spec"), specs);
}

void MatchesWindow::selectionChanged() {
    const auto rows = selected();
    const bool one = rows.size() == 1;
    const bool finished =
        !rows.empty() && std::ranges::none_of(rows, [](const MatchRow& row) { return row.file.recording; });
    playAction_->setEnabled(one && finished);
    keepAction_->setEnabled(finished);
    keepAction_->setText(finished &&
                                 std::ranges::all_of(rows, [](const MatchRow& row) { return row.file.kept; })
                             ? QStringLiteral("Stop Keeping")
                             : QStringLiteral("Keep"));
    deleteAction_->setEnabled(finished);
    showAction_->setEnabled(one);
    openWithAction_->setEnabled(one && finished);
}

void MatchesWindow::showCount() {
    statusBar()->showMessage(QStringLiteral("%1 of %2 matches in %3")
                                 .arg(filterModel_.rowCount())
                                 .arg(model_.rowCount())
                                 .arg(options_.moviesFolder));
}

void MatchesWindow::play() {
    const auto rows = selected();
    if (rows.size() != 1 || rows.front().file.recording) {
        return;
    }
    if (!player_) {
        player_ = std::make_unique<PlayerWindow>();
    }
    player_->open(QString::fromStdString(rows.front().file.path));
    player_->show();
    player_->raise();
    player_->activateWindow();
}

void MatchesWindow::toggleKept() {
    const auto rows = selected();
    const bool allKept = std::ranges::all_of(rows, [](const MatchRow& row) { return row.file.kept; });
    QStringList problems;
    for (const MatchRow& row : rows) {
        const std::string folder = options_.moviesFolder.toStdString();
        const auto moved = allKept         ? matchFolder::stopKeeping(row.file.path, folder)
                           : row.file.kept ? matchFolder::Moved{row.file.path, {}}
                                           : matchFolder::keep(row.file.path, folder);
        if (!moved.movie) {
            problems.append(QString::fromStdString(row.file.stamp + ": " + moved.problem));
        }
    }
    if (!problems.isEmpty()) {
        statusBar()->showMessage(problems.join(QLatin1Char(' ')), 10000);
    }
    loader_->reload();
}

void MatchesWindow::deleteSelected() {
    const auto rows = selected();
    if (rows.empty()) {
        return;
    }
    const QString what = rows.size() == 1 ? QString::fromStdString(rows.front().file.stamp)
                                          : QStringLiteral("these %1 matches").arg(rows.size());
    if (!options_.confirm(QStringLiteral("Move %1 to the trash, with the subtitles, the match record and the "
                                         "match log?")
                              .arg(what))) {
        return;
    }
    QStringList problems;
    for (const MatchRow& row : rows) {
        if (!matchFolder::isOwnMovie(row.file.path, options_.moviesFolder.toStdString())) {
            problems.append(QString::fromStdString(row.file.stamp +
                                                   ": only the recorder's finished movies are deleted."));
            continue;
        }
        for (const std::string& file : matchFolder::companions(row.file.path)) {
            if (!QFile::moveToTrash(QString::fromStdString(file))) {
                problems.append(QString::fromStdString(file + " could not be moved to the trash."));
            }
        }
    }
    if (!problems.isEmpty()) {
        statusBar()->showMessage(problems.join(QLatin1Char(' ')), 10000);
    }
    loader_->reload();
}

void MatchesWindow::showInFolder() {
    if (const auto rows = selected(); rows.size() == 1 && options_.reveal) {
        options_.reveal(QString::fromStdString(rows.front().file.path));
    }
}

void MatchesWindow::openWith() {
    if (const auto rows = selected(); rows.size() == 1 && options_.openWith) {
        options_.openWith(QString::fromStdString(rows.front().file.path));
    }
}

}  // namespace vidora
