#include "view/import_preview_lines.h"

#include <algorithm>

#include "compare/import_preview.h"
#include "registry/key_path.h"
#include "registry/value_types.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {

constexpr std::size_t kShownChars = 120;

QString valueText(const tovik::ValueData& value) {
    const FormattedValue text = FormatValue(value.type, value.data, std::min(value.size, kShownChars * 4));
    return toQString(text.tag) + QStringLiteral(":") + toQString(text.text).left(static_cast<int>(kShownChars));
}

class PreviewLines final : public tovik::PreviewSink {
public:
    bool onPreview(const tovik::PreviewEntry& e) override {
        const QString key = QStringLiteral("[") + toQString(tovik::fullKeyPath(e.root, e.path)) + QStringLiteral("]");
        const QString name = e.name.empty() ? Tovik::tr("(既定)") : toQString(e.name);
        switch (e.kind) {
        case tovik::PreviewKind::KeyCreated: header(QStringLiteral("+ ") + key, key); return true;
        case tovik::PreviewKind::KeyDeleted: header(QStringLiteral("− ") + key, QString()); return true;
        case tovik::PreviewKind::ValueUnchanged: return true;
        default: break;
        }
        if (key != lastKey_) header(QStringLiteral("  ") + key, key);
        if (e.kind == tovik::PreviewKind::ValueAdded)
            lines << QStringLiteral("    + ") + name + QStringLiteral(" = ") + valueText(e.after);
        else if (e.kind == tovik::PreviewKind::ValueChanged)
            lines << QStringLiteral("    ≠ ") + name + QStringLiteral(": ") + valueText(e.before) +
                         QStringLiteral(" → ") + valueText(e.after);
        else
            lines << QStringLiteral("    − ") + name + QStringLiteral(" (") + valueText(e.before) + QStringLiteral(")");
        return true;
    }
    QStringList lines;

private:
    void header(const QString& line, const QString& key) {
        lines << line;
        lastKey_ = key;
    }
    QString lastKey_;
};

// The lines of a preview that run makes into the sink it is given.
template <class Run>
QStringList previewLines(Run run) {
    PreviewLines preview;
    tovik::ImportPreviewResult result;
    try {
        result = run(preview);
    } catch (const tovik::BackendFailure&) {
        return {Tovik::tr("レジストリを読み込めませんでした。")};
    }
    if (result.backupFile && !result.ok()) return {translated(tovik::importOutcomeMessage(result.backupOutcome))};
    if (result.changes() == 0) preview.lines << Tovik::tr("変更はありません。");
    if (result.valuesUnchanged != 0)
        preview.lines << Tovik::tr("変更のない値 %1 個は省きました。").arg(result.valuesUnchanged);
    if (result.backupOutcome == tovik::ImportOutcome::BrokenLine)
        preview.lines
            << Tovik::tr("%1行目でファイルが壊れています。インポートはそこで終わります。").arg(result.brokenLine);
    return preview.lines;
}

}  // namespace

QStringList importPreviewLines(std::u16string_view regText, tovik::Backend& registry) {
    return previewLines([&](PreviewLines& sink) { return tovik::previewRegFileImport(regText, registry, sink); });
}

QStringList importPreviewLines(const tovik::BackupText& lines, tovik::Backend& registry) {
    return previewLines([&](PreviewLines& sink) { return tovik::previewBackupImport(lines, registry, sink); });
}
