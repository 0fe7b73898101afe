#include "view/compare_result_dlg.h"

#include <algorithm>

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <map>
#include <set>

#include "backup/backup_import.h"
#include "compare/apply_difference.h"
#include "compare/diff_reg_writer.h"
#include "files/durable_writer.h"
#include "history/recording_backend.h"
#include "regfile/byte_sink.h"
#include "regfile/reg_writer.h"
#include "registry/key_path.h"
#include "registry/value_types.h"
#include "ui/long_work_progress.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_support.h"

using tovik::DifferenceKind;

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kKindRole = Qt::UserRole + 2;
constexpr int kIsValueRole = Qt::UserRole + 3;
// Values shown as the value list shows them, cut where a line would be useless.
constexpr std::size_t kShownChars = 200;

bool isDifference(DifferenceKind kind) {
    return kind != DifferenceKind::KeySame && kind != DifferenceKind::ValueSame;
}

// The sign that marks a row readable without colour, and the colour beside it.
QString sign(DifferenceKind kind) {
    switch (kind) {
    case DifferenceKind::KeyOnlyInB:
    case DifferenceKind::ValueOnlyInB: return QStringLiteral("+");
    case DifferenceKind::KeyOnlyInA:
    case DifferenceKind::ValueOnlyInA: return QStringLiteral("−");
    case DifferenceKind::ValueChanged: return QStringLiteral("≠");
    default: return QStringLiteral(" ");
    }
}

QColor kindColour(DifferenceKind kind) {
    switch (kind) {
    case DifferenceKind::KeyOnlyInB:
    case DifferenceKind::ValueOnlyInB: return QColor(0, 128, 0);
    case DifferenceKind::KeyOnlyInA:
    case DifferenceKind::ValueOnlyInA: return QColor(192, 0, 0);
    case DifferenceKind::ValueChanged: return QColor(176, 96, 0);
    default: return QColor();
    }
}

QString valueText(const tovik::ValueData& value) {
    const FormattedValue text = FormatValue(value.type, value.data, std::min(value.size, kShownChars * 4));
    return toQString(text.tag) + QStringLiteral(":") + toQString(text.text).left(static_cast<int>(kShownChars));
}

std::u16string parentPath(const std::u16string& path) {
    const std::size_t cut = path.rfind(u'\\');
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

std::u16string joined(const std::u16string& base, const std::u16string& below) {
    if (base.empty()) return below;
    return below.empty() ? base : base + u'\\' + below;
}

class RowCollector final : public tovik::DifferenceSink {
public:
    explicit RowCollector(std::function<void(const tovik::Difference&)> take) : take_(std::move(take)) {}
    bool onDifference(const tovik::Difference& d) override {
        take_(d);
        return true;
    }

private:
    std::function<void(const tovik::Difference&)> take_;
};

}  // namespace

CCompareResultDlg::CCompareResultDlg(CompareSource a, CompareSource b, ViewPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_a(std::move(a)), m_b(std::move(b)), m_prompts(prompts) {
    setWindowTitle(Tovik::tr("比較結果"));
    setObjectName(QStringLiteral("CompareResultDlg"));
    auto* layout = new QVBoxLayout(this);
    // A long path breaks after its separators rather than widening the window past the screen.
    const auto breakable = [](QString text) {
        return text.replace(QChar(u'\\'), QStringLiteral("\\\u200B")).replace(QChar(u'/'), QStringLiteral("/\u200B"));
    };
    auto* sides = new QLabel(QStringLiteral("A: %1\nB: %2").arg(breakable(m_a.label), breakable(m_b.label)), this);
    sides->setWordWrap(true);
    sides->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(sides);
    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(4);
    m_tree->setHeaderLabels({Tovik::tr("名前"), Tovik::tr("差"), QStringLiteral("A"), QStringLiteral("B")});
    m_tree->setUniformRowHeights(true);
    m_tree->header()->setStretchLastSection(true);
    layout->addWidget(m_tree, 1);
    m_summary = new QLabel(this);
    layout->addWidget(m_summary);
    // Two rows, so that the window fits the portrait screen: the filter and 閉じる, then the saves.
    auto* filterRow = new QHBoxLayout;
    auto* saveRow = new QHBoxLayout;
    m_differencesOnly = new QCheckBox(Tovik::tr("相違のみ表示"), this);
    m_differencesOnly->setChecked(true);
    filterRow->addWidget(m_differencesOnly);
    filterRow->addStretch(1);
    auto* saveForward = new QPushButton(Tovik::tr("A→B の .reg を保存..."), this);
    auto* saveBackward = new QPushButton(Tovik::tr("B→A の .reg を保存..."), this);
    auto* close = new QPushButton(Tovik::tr("閉じる"), this);
    filterRow->addWidget(close);
    saveRow->addWidget(saveForward);
    saveRow->addWidget(saveBackward);
    auto* applyRow = new QHBoxLayout;
    m_applyToA = new QPushButton(Tovik::tr("A を B に合わせる"), this);
    m_applyToA->setObjectName(QStringLiteral("applyToA"));
    m_applyToA->setToolTip(Tovik::tr("選んだ相違を A で B と同じにします"));
    m_applyToB = new QPushButton(Tovik::tr("B を A に合わせる"), this);
    m_applyToB->setObjectName(QStringLiteral("applyToB"));
    m_applyToB->setToolTip(Tovik::tr("選んだ相違を B で A と同じにします"));
    applyRow->addWidget(m_applyToA);
    applyRow->addWidget(m_applyToB);
    layout->addLayout(filterRow);
    layout->addLayout(saveRow);
    layout->addLayout(applyRow);
    // A side that is a file, or a registry that may only be read, offers no apply at all.
    m_applyToA->setVisible(m_a.writable);
    m_applyToB->setVisible(m_b.writable);
    updateApplyButtons();
    // No wider than the main window on the portrait screen; wider where there is room.
    resize(parent != nullptr ? std::min(760, std::max(parent->window()->width(), 360)) : 760, 480);

    connect(m_differencesOnly, &QCheckBox::toggled, this, [this] { fill(); });
    connect(saveForward, &QPushButton::clicked, this, [this] { saveReg(false); });
    connect(saveBackward, &QPushButton::clicked, this, [this] { saveReg(true); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { activate(item); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this] { updateApplyButtons(); });
    connect(m_applyToA, &QPushButton::clicked, this, [this] { applySelected(false); });
    connect(m_applyToB, &QPushButton::clicked, this, [this] { applySelected(true); });
}

CCompareResultDlg::~CCompareResultDlg() = default;

bool CCompareResultDlg::compare() {
    m_rows.clear();
    LongWorkProgress progress(this, Tovik::tr("%1 個のキーを比較しました"), 0, true);
    RowCollector collect([this](const tovik::Difference& d) {
        Row row{d.kind, std::u16string(d.path), std::u16string(d.name), {}, {}};
        if (!d.isKey()) {
            if (d.kind != DifferenceKind::ValueOnlyInB) row.a = valueText(d.a);
            if (d.kind != DifferenceKind::ValueOnlyInA) row.b = valueText(d.b);
        }
        m_rows.push_back(std::move(row));
    });
    tovik::CompareOptions options;
    options.reportSame = true;
    options.progress = [&progress](std::size_t keys) { return progress.step(keys); };
    const tovik::CompareResult result = tovik::compareKeyTrees(m_a.side, m_b.side, collect, options);
    progress.close();
    m_differences = result.differences;
    if (result.outcome == tovik::CompareOutcome::KeyNotFound) {
        m_prompts.messageBox(this, Tovik::tr("比較するキーがどちらにもありません。"), MessageButtons::Ok);
        return false;
    }
    if (result.outcome == tovik::CompareOutcome::ReadFailed) {
        m_prompts.messageBox(
            this, Tovik::tr("キー %1 を読み込めませんでした。比較を中止しました。").arg(toQString(result.keyPath)),
            MessageButtons::Ok);
        return false;
    }
    if (result.outcome != tovik::CompareOutcome::Done) return false;
    fill();
    return true;
}

void CCompareResultDlg::fill() {
    const bool onlyDifferences = m_differencesOnly->isChecked();
    // The keys on the way to a difference stay, so that each difference sits in its tree.
    std::set<std::u16string> wanted;
    if (onlyDifferences) {
        for (const Row& row : m_rows) {
            if (!isDifference(row.kind)) continue;
            for (std::u16string path = row.path;; path = parentPath(path)) {
                if (!wanted.insert(path).second || path.empty()) break;
            }
        }
    }
    m_tree->clear();
    std::map<std::u16string, QTreeWidgetItem*> keys;
    for (const Row& row : m_rows) {
        const bool isKey = row.kind == DifferenceKind::KeySame || row.kind == DifferenceKind::KeyOnlyInA ||
                           row.kind == DifferenceKind::KeyOnlyInB;
        if (onlyDifferences && !isDifference(row.kind) && !(isKey && wanted.count(row.path))) continue;
        QTreeWidgetItem* parent = nullptr;
        if (!isKey || !row.path.empty()) {
            const auto it = keys.find(isKey ? parentPath(row.path) : row.path);
            if (it == keys.end()) continue;
            parent = it->second;
        }
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
        QString name;
        if (isKey) {
            name = row.path.empty() ? toQString(tovik::fullKeyPath(m_a.side.root, m_a.side.path))
                                    : toQString(std::u16string_view(row.path).substr(row.path.rfind(u'\\') + 1));
            keys[row.path] = item;
        } else {
            name = row.name.empty() ? Tovik::tr("(既定)") : toQString(row.name);
        }
        item->setText(0, name);
        item->setText(1, sign(row.kind));
        item->setText(2, row.a);
        item->setText(3, row.b);
        item->setData(0, kPathRole, toQString(row.path));
        item->setData(0, kNameRole, toQString(row.name));
        item->setData(0, kKindRole, static_cast<int>(row.kind));
        item->setData(0, kIsValueRole, !isKey);
        if (const QColor colour = kindColour(row.kind); colour.isValid())
            for (int column = 0; column < 4; ++column) item->setForeground(column, QBrush(colour));
    }
    m_tree->expandAll();
    for (int column = 0; column < 3; ++column) m_tree->resizeColumnToContents(column);
    m_summary->setText(m_differences == 0 ? Tovik::tr("相違はありません。")
                                          : Tovik::tr("相違 %1 件").arg(m_differences));
}

void CCompareResultDlg::activate(QTreeWidgetItem* item) {
    if (!item) return;
    const auto kind = static_cast<DifferenceKind>(item->data(0, kKindRole).toInt());
    const bool onSideA = kind != DifferenceKind::KeyOnlyInB && kind != DifferenceKind::ValueOnlyInB;
    // Where it is, or would be, on side A: the side the main window shows.
    const tovik::CompareSide& side = m_a.side;
    const std::u16string path = joined(side.path, toU16(item->data(0, kPathRole).toString()));
    const std::u16string name = item->data(0, kIsValueRole).toBool() ? toU16(item->data(0, kNameRole).toString()) : u"";
    emit keyActivated(side.root, path, name, onSideA);
}

bool CCompareResultDlg::saveReg(bool reverse) {
    const QString file = m_prompts.saveFileName(this, Tovik::tr("登録ファイル(*.reg)"));
    if (file.isEmpty()) return false;
    tovik::BytesSink sink;
    tovik::RegFileWriter writer(sink, tovik::RegFileFormat::Version5);
    writer.writeHeader();
    const tovik::CompareSide& target = reverse ? m_b.side : m_a.side;
    tovik::DiffRegWriter diff(writer, target.root, target.path, reverse);
    const tovik::CompareResult result = tovik::compareKeyTrees(m_a.side, m_b.side, diff);
    writer.finish();
    if (result.outcome != tovik::CompareOutcome::Done) {
        m_prompts.messageBox(this, Tovik::tr("比較できませんでした。ファイルは書き込んでいません。"),
                             MessageButtons::Ok);
        return false;
    }
    const tovik::files::FileStatus status = tovik::files::replaceFile(
        localFileName(file), std::string_view(reinterpret_cast<const char*>(sink.bytes.data()), sink.bytes.size()));
    if (!status.ok()) {
        m_prompts.messageBox(
            this, Tovik::tr("ファイルを書き込めませんでした。") + QChar(u'\n') + QString::fromStdString(status.message),
            MessageButtons::Ok);
        return false;
    }
    return true;
}

void CCompareResultDlg::updateApplyButtons() {
    const QTreeWidgetItem* item = m_tree->currentItem();
    const bool difference =
        item != nullptr && isDifference(static_cast<DifferenceKind>(item->data(0, kKindRole).toInt()));
    m_applyToA->setEnabled(difference && m_a.writable);
    m_applyToB->setEnabled(difference && m_b.writable);
}

bool CCompareResultDlg::applySelected(bool toB) {
    QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr || !isDifference(static_cast<DifferenceKind>(item->data(0, kKindRole).toInt()))) return false;
    const CompareSource& target = toB ? m_b : m_a;
    const CompareSource& source = toB ? m_a : m_b;
    if (!target.writable) return false;
    const std::u16string path = toU16(item->data(0, kPathRole).toString());
    const bool isValue = item->data(0, kIsValueRole).toBool();
    const std::u16string name = toU16(item->data(0, kNameRole).toString());
    LONG rc = ERROR_SUCCESS;
    {
        // One entry of the target's history, whichever registry it is.
        auto* recorder = dynamic_cast<tovik::history::RecordingBackend*>(target.side.backend);
        const std::u16string key = tovik::fullKeyPath(target.side.root, joined(target.side.path, path));
        if (recorder) recorder->beginScope(toU16(Tovik::tr("比較結果から適用")), key);
        rc = tovik::applyDifference(source.side, target.side, path,
                                    isValue ? std::optional<std::u16string_view>(name) : std::nullopt);
        if (recorder) recorder->endScope();
    }
    if (rc != ERROR_SUCCESS) {
        QString reason = toQString(tovik::writeErrorReason(rc));
        if (const std::string failure = target.side.backend->lastFailure(); !failure.empty())
            reason = QString::fromStdString(failure);
        m_prompts.messageBox(this, Tovik::tr("適用できませんでした（%1）。").arg(reason), MessageButtons::Ok);
    }
    emit applied(toB);
    // Compared again, so that every row shows both sides as they are now; the same row stays current.
    if (!compare()) return false;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->data(0, kPathRole).toString() == toQString(path) &&
            (*it)->data(0, kIsValueRole).toBool() == isValue &&
            (!isValue || (*it)->data(0, kNameRole).toString() == toQString(name))) {
            m_tree->setCurrentItem(*it);
            break;
        }
    }
    return rc == ERROR_SUCCESS;
}
