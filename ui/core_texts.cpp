// The texts of the plain C++ core that the interface shows, listed for lupdate: Translated()
// finds their translations by the same Japanese text. A core text the GUI shows belongs here.
#include "ui/core_texts.h"

#include <QtGlobal>

namespace {

const char* const kCoreTexts[] = {
    // backup/backup_export.h
    QT_TRANSLATE_NOOP("Tovik", "キーが選択されていません"),
    QT_TRANSLATE_NOOP("Tovik", "ファイルを作成できません。エクスポートしませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "キーを開けません。エクスポートしませんでした。"),
    QT_TRANSLATE_NOOP("Tovik",
                      "レジストリを読み出せません。エクスポートを中止しました。選んだファイルは変更していません。"),
    QT_TRANSLATE_NOOP("Tovik",
                      "ファイルに書き込めません。エクスポートを中止しました。選んだファイルは変更していません。"),
    QT_TRANSLATE_NOOP("Tovik", "他のユーザーが置いたリンクです。エクスポートしませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "レジストリのファイルそのものには書き出せません。エクスポートしませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "エクスポートを中止しました。選んだファイルは変更していません。"),
    QT_TRANSLATE_NOOP("Tovik",
                      "インポートで元どおりに戻らない値を%1個書き出しました。このファイルからは復元できません。"),
    // backup/backup_import.h
    QT_TRANSLATE_NOOP("Tovik", "Unicodeではありません"),
    QT_TRANSLATE_NOOP("Tovik", "ファイル形式エラー インポート失敗"),
    QT_TRANSLATE_NOOP("Tovik", "ルートキーなし インポート失敗"),
    QT_TRANSLATE_NOOP("Tovik", "インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。"),
    QT_TRANSLATE_NOOP("Tovik", "インポート終了、表示を初期化します"),
    QT_TRANSLATE_NOOP("Tovik", "通常のファイルではありません。インポートしませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "メモリが足りません。インポートしませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "書き込めなかった値が%1個、キーが%2個あります（%3）。"),
    QT_TRANSLATE_NOOP("Tovik", "%1行目でインポートを中止しました。"),
    QT_TRANSLATE_NOOP("Tovik", "インポートを中止しました。%1行目までを書き込みました。表示を初期化します"),
    QT_TRANSLATE_NOOP("Tovik", "型の分からない値の行を%1行読み飛ばしました"),
    // backup/backup_import.cpp: WriteErrorReason
    QT_TRANSLATE_NOOP("Tovik", "他のプログラムがレジストリを使用中です"),
    QT_TRANSLATE_NOOP("Tovik", "値が大きすぎるか、名前が長すぎるか、キーが深すぎます"),
    QT_TRANSLATE_NOOP("Tovik", "メモリが足りません"),
    QT_TRANSLATE_NOOP("Tovik", "親のキーがありません"),
    QT_TRANSLATE_NOOP("Tovik", "キーが他のプログラムに削除されました"),
    QT_TRANSLATE_NOOP("Tovik", "ディスクがいっぱいか、レジストリのファイルを大きくできません"),
    QT_TRANSLATE_NOOP("Tovik", "レジストリに書き込めません"),
    // editors/number_rules.h
    QT_TRANSLATE_NOOP("Tovik", "10桁以上あります（10進）"),
    QT_TRANSLATE_NOOP("Tovik", "8文字以上あります（16進）"),
    QT_TRANSLATE_NOOP("Tovik", "整数を入力してください。"),
    // view/tovik_view.h
    QT_TRANSLATE_NOOP("Tovik", "レジストリが壊れています。キーが自分自身の中にあるため、その先は表示しません。"),
    QT_TRANSLATE_NOOP("Tovik", "既に存在します"),
    QT_TRANSLATE_NOOP("Tovik", "名前を入力してください。"),
    QT_TRANSLATE_NOOP("Tovik", "キーの名前に \\ は使えません。"),
    QT_TRANSLATE_NOOP("Tovik", "ルートキーの名前は変更できません。"),
    QT_TRANSLATE_NOOP("Tovik", "名前を変更できませんでした。"),
    // view/find_commands.h, view/navigation_commands.h
    QT_TRANSLATE_NOOP("Tovik", "見つかりませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "\n読み取れないキーや値がありました。"),
    QT_TRANSLATE_NOOP("Tovik", "レジストリが壊れているため、検索を最後まで行えませんでした。"),
    // view/key_commands.h
    QT_TRANSLATE_NOOP("Tovik", "レジストリが壊れています。キーが自分自身の中にあるため、削除を途中で止めました。"),
    QT_TRANSLATE_NOOP("Tovik", "キーのパスが正しくありません。HKEY_LOCAL_MACHINE\\Software のように入力してください。"),
    // regfile/reg_import.h
    QT_TRANSLATE_NOOP("Tovik", "キーを%1個、値を%2個書き込み、キーを%3個、値を%4個削除しました。"),
    QT_TRANSLATE_NOOP("Tovik", "%1行を読み飛ばしました。"),
    QT_TRANSLATE_NOOP("Tovik", "%1行目: %2"),
    QT_TRANSLATE_NOOP("Tovik", "書き込めなかった値が%1個、キーが%2個あります。"),
    QT_TRANSLATE_NOOP("Tovik", "削除できなかったものが%1個あります。"),
    QT_TRANSLATE_NOOP("Tovik", "書き込んだ%1個がレジストリに残りませんでした。"),
    QT_TRANSLATE_NOOP("Tovik", "登録ファイルのヘッダー「%1」が分かりません。インポートしませんでした。"),
    // regfile/reg_reader.cpp: RegFileProblemText
    QT_TRANSLATE_NOOP("Tovik", "キーの行が正しくありません"),
    QT_TRANSLATE_NOOP("Tovik", "ルートキーの名前が分かりません"),
    QT_TRANSLATE_NOOP("Tovik", "ルートキーは削除できません"),
    QT_TRANSLATE_NOOP("Tovik", "値の行が正しくありません"),
    QT_TRANSLATE_NOOP("Tovik", "文字列のエスケープが正しくありません"),
    QT_TRANSLATE_NOOP("Tovik", "文字列が閉じていません"),
    QT_TRANSLATE_NOOP("Tovik", "dword の値が正しくありません"),
    QT_TRANSLATE_NOOP("Tovik", "16進データが正しくありません"),
    QT_TRANSLATE_NOOP("Tovik", "データの形式が分かりません"),
    QT_TRANSLATE_NOOP("Tovik", "行の形式が分かりません"),
    QT_TRANSLATE_NOOP("Tovik", "途切れた16進データの続きとして読み飛ばしました"),
    QT_TRANSLATE_NOOP("Tovik", "キーを作成できません"),
    QT_TRANSLATE_NOOP("Tovik", "キーを削除できません"),
    QT_TRANSLATE_NOOP("Tovik", "値を書き込めません"),
    QT_TRANSLATE_NOOP("Tovik", "値を削除できません"),
};

}  // namespace

std::span<const char* const> coreTextSources() {
    return kCoreTexts;
}
