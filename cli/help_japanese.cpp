// The Japanese help of tovik-reg: --help and the Japanese manual page are both made from it.
// It says what the English help in command_line.cpp says, in the window's vocabulary.
#include "cli/help_document.h"

namespace tovik::cli {

namespace {

using Kind = HelpSection::Kind;

constexpr HelpEntry kUsage[] = {
    {"", "tovik-reg [--registry FILE] COMMAND ARGUMENTS"},
    {"", "tovik-reg --wine-prefix [DIR] COMMAND ARGUMENTS"},
    {"", "tovik-reg --steam-app APPID COMMAND ARGUMENTS"},
    {"", "tovik-reg --windows DIR [--user FILE] [--write] COMMAND ARGUMENTS"},
    {"", "tovik-reg --hive FILE --as KEY [--write] COMMAND ARGUMENTS"},
    {"", "tovik-reg registries"},
};

constexpr HelpEntry kDescription[] = {
    {"", "Tovikのレジストリ、Wineのプレフィックスのレジストリファイル、Windowsのインストールのレジストリ"
         "ハイブファイルを読み書きします。"},
};

constexpr HelpEntry kCommands[] = {
    {"query KEY [-r] [--json] [--times]",
     "キーの行 [path] と、値ごとに1行 \"name\"=TAG:data を、バックアップファイルと同じ形で出力します"
     "（UTF-8、改行はLF）。-r を付けると、すべてのサブキーのブロックを深さ優先でレジストリの順に続けます。"
     "--times を付けると、各キーの行の後に空白を置いてキーを最後に書き込んだ日時（ISO 8601、UTC）を加え、"
     "--json では各キーに \"written\" を加えます。"},
    {"get KEY NAME [--raw|--json]",
     "1つの値のデータの文字列だけを、set が受け取る形で出力します（QW の値は数値）。--raw はデータのバイトを"
     "そのまま、改行なしで書き出します。"},
    {"set KEY NAME TYPE DATA", "値を書き込みます。KEY とその上の足りないキーは作成します。"},
    {"delete-value KEY NAME", "値を削除します。"},
    {"add-key KEY", "KEY とその上の足りないキーを作成します。すでにあったときはそう伝えます（成功です）。"},
    {"delete-key KEY", "KEY を、その下のすべてのキーと値とともに削除します。ルートは削除できません。"},
    {"export KEY FILE [--format backup|reg|reg4]",
     "KEY をその下のすべてのキーと値とともに FILE に保存します。形式は、バックアップファイル（既定。UTF-16、"
     "改行はCR LFで、GUIのエクスポートと同じ）、バージョン5の .reg ファイル（reg、UTF-16）、REGEDIT4 の "
     ".reg ファイル（reg4、UTF-8）のどれかです。既存の FILE は、新しいファイルができあがってから置き換えます。"
     "失敗したときは元のままです。"},
    {"import FILE [--dry-run]",
     "FILE のキーと値を、GUIのインポートと同じように、確認せずにレジストリに書き込みます。ファイルの種類は"
     "名前ではなく1行目で決まります。バックアップファイルは、そのファイルが示すルートの下に書き込みます。"
     "種類のタグが分からない値の行は飛ばして数を標準エラーに出し、壊れた行があればそこでインポートを止めます。"
     "それより前に書き込んだものは残ります。.reg ファイル（REGEDIT4 かバージョン5）は、- を付けたキーと値の"
     "削除も行います。読めない行や置けない行は飛ばして数え、最初のいくつかを行番号とともに標準エラーに出し、"
     "インポートを続けます。書き込んだ、削除した、飛ばしたキーと値の数は標準出力に出します。--dry-run では"
     "何も書き込みません。ファイル（.reg かバックアップファイル）による変更を diff と同じ形で一覧にし（追加、"
     "変更、削除される値、作成、削除されるキー）、続けてその数を出します。"},
    {"diff A [B] [--format text|reg|reg4] [--reverse] [--json] [--b REGISTRY]",
     "2つのキーの木を比べます。A と B は、それぞれレジストリの KEY か、相手側のキーの位置に木として読む .reg "
     "かバックアップ"
     "ファイルの FILE です（2つともファイルなら、すべてのルート）。B の KEY は、--b の後のオプション（--registry "
     "FILE、--wine-prefix DIR など）が指定するレジストリのキーです。B を省くと、そのレジストリの A のキーです。"
     "A にだけあるものを -[key] と -  \"value\" で、B にだけあるものを + で、変わった値を - の行と + の行で、"
     "\" [key]\" の下に示します。名前は大文字と小文字を区別せずに比べます。--format reg（か reg4）は A を B に"
     "する .reg ファイルを出力し、--reverse は A と B を入れ替えます。終了ステータスは diff と同じで、0 は違い"
     "なし、1 は違いあり、2 は問題ありです。KEY として読める文字列は KEY です。./HKLM はファイルを指します。"},
    {"find [TEXT] [KEY] [--keys] [--values] [--data] [--case] [--exact] [--json]\n"
     "       [--since DATE] [--until DATE]",
     "KEY の下（KEY がなければレジストリ全体）で見つかったものを、ブラウザと同じ順に1件1行で出力します。"
     "キーのパスと、値で見つかったときはタブと値の名前（名前のない値は @）です。--keys、--values、--data で"
     "調べるものを選びます（キー名、値の名前、値の一覧に表示される形のデータ。どれも指定しなければ3つとも）。"
     "--case は大文字と小文字を区別し、--exact は名前やデータの文字列全体が一致するものだけを探します。終了"
     "ステータスは grep と同じで、見つかれば 0、見つからなければ 1、失敗すれば 2 です。--since と --until は、"
     "その期間（両端を含む）に最後に書き込まれたキーの中のものだけを残します。このとき TEXT は省くか空に"
     "できて、そのようなキーがすべて見つかったものになり、ルートを指す引数が1つだけなら KEY です。"},
    {"timeline [KEY]",
     "KEY の下のすべてのキー（KEY を含む。KEY がなければレジストリ全体）を、新しい順に time,path のCSVの行で"
     "出力します。キーを最後に書き込んだ日時（ISO 8601、UTC。レジストリが日時を持たなければ空）と、キーの"
     "フルパス（カンマか引用符を含むときは引用符で囲みます）です。"},
    {"rename-key KEY NEWNAME", "KEY の名前を、その下のものごと変更します（ルートは変更できません）。"},
    {"rename-value KEY NAME NEWNAME", "値の名前を変更します。種類、データ、位置はそのままです。"},
    {"history [KEY] [-n N]",
     "レジストリの変更履歴の新しいほうから N 件（指定がなければ 20 件）を、新しい順に1件1行で出力します。"
     "番号、日時、行った操作、キーと、取り消したかやり直したときは \"undone\" か \"redone\" です。KEY を指定"
     "すると、KEY とその下のキーの項目だけを出します。"},
    {"undo [N]", "最新の N 件の変更（指定がなければ 1 件）を、すべて取り消すか、まったく取り消さないかのどちらかです。"
                 "その後に変わったものがあれば、最初に違うキーか値を示して断ります。取り消しもそれ自体が1つの項目に"
                 "なります。"},
    {"redo [N]", "最新の N 件の取り消しで戻したものを、もう一度行います（新しい変更をするまでです）。"},
    {"registries [--json]",
     "このマシンで見つかったレジストリを、1つ1行で一覧にします。種類、名前、フォルダ（Tovik自身のものは"
     "ストアのファイル）と、read-only か writable をタブで区切ります。種類は tovik、proton（Steam）、lutris、"
     "bottles、heroic、playonlinux、wine（$WINEPREFIX と ~/.wine）です。今Wineが使っているプレフィックスは"
     "読み取り専用です。読めない設定ファイルは飛ばします。"},
};

constexpr HelpEntry kArguments[] = {
    {"KEY", "ルート HKEY_CLASSES_ROOT（HKCR）、HKEY_CURRENT_USER（HKCU）、HKEY_LOCAL_MACHINE（HKLM）のどれかで、"
            "大文字と小文字は問いません。続けてバックスラッシュとその下のパスを書けます: 'HKLM\\Software\\Tovik'。"
            "シェルはバックスラッシュを消すので、引用符で囲んでください。HKLM/Software/Tovik、二重のバックスラッシュ、"
            "先頭のバックスラッシュ、HKLM:\\Software、Computer\\HKEY_LOCAL_MACHINE\\Software も読めます。前後の空白は"
            "無視します。"},
    {"NAME", "値の名前。@ はキーの名前のない（既定の）値です。"},
    {"DATE",
     "ISO 8601 の日付か日時: 2024-05-01、2024-05-01T12:30、2024-05-01 12:30:15。ローカル時刻か、Z を付けて"
     "UTC、オフセット（+09:00）を付けてほかのタイムゾーンです。--until に日付だけを書くと、その日の終わりです。"},
    {"NEWNAME", "新しいキー名か値の名前。空ではなく、キー名にはバックスラッシュを含めません。"},
    {"TYPE", "種類のタグ NON SZ EXP BIN DW DWE LNK MLT RSC（種類 0 から 8）か QW（11）、名前 REG_NONE ... REG_QWORD"
             "（大文字と小文字は問いません）、または種類の番号（10進か、0x の後に16進で、0 から 0xFFFFFFFF）です。"},
    {"FILE", "ファイル名で、そのまま使います。-（または /dev/stdout、/dev/stdin）は、export では標準出力、import では"
             "標準入力で、先に全体をメモリに読み込みます。"},
    {"DATA",
     "値の一覧に表示される形のデータです。SZ と EXP は文字列そのもの。MLT は各文字列の後に | を付け、最後は "
     "||。DW は32ビットの数で、10進で -2147483648 から 4294967295 まで（後に括弧で16進の形を付けても"
     "かまいません: 260 か 260(104)）、または 0x の後に16進（0x104）。QW は64ビットの数で、10進で "
     "-9223372036854775808 から 18446744073709551615 まで、または 0x の後に16進で、8バイトのリトル"
     "エンディアンで保存します。ほかの種類は空白で区切った16進のバイト（0A FF 00）で、データがなければ空です。"},
    {"--json",
     "（query、get、find、diff、registries）代わりにJSONを出力します。値はオブジェクト {\"path\", \"name\", "
     "\"type\", \"tag\", \"text\", \"hex\"} で、キーのフルパス、名前（名前のない値は \"\"）、種類の番号、set が"
     "受け取るタグ（なければ null）、get が出力するデータの文字列、すべてのバイトの小文字の16進です。get は"
     "1つの値を、query はキー {\"path\", \"values\": [value, ...]} の配列を、find は見つかったものの配列"
     "（{\"path\", \"match\": \"key\"} か、\"match\": \"name\" か \"data\" を持つ値）を、registries は "
     "{\"kind\", \"name\", \"folder\", \"readOnly\"} の配列を、diff は {\"change\": \"added\"|\"removed\"|"
     "\"changed\", \"kind\": \"key\"|\"value\", \"path\"} と、値ならその \"name\"、\"a\"、\"b\"（ない側は "
     "null）の配列を出力します。"},
};

constexpr HelpEntry kOptions[] = {
    {"--registry FILE",
     "ユーザーのストア（$XDG_DATA_HOME/tovik/registry.db）の代わりに、レジストリのストア FILE を使います。"
     "新しいストアには既定のデバイスレジストリが入ります。そのフォルダは存在している必要があります。"},
    {"--wine-prefix [DIR]",
     "Wineのプレフィックス DIR のレジストリを使います。HKLM はその system.reg、HKCU は user.reg、HKCR は "
     "HKLM\\Software\\Classes です。Wineがそのプレフィックスを使っていてはいけません（wineserver は"
     "レジストリをメモリに持ち、ファイルを上書きします）。使っている間は、書き込みをすべて断ります。DIR を"
     "省くと（コマンド名が続くとき）、$WINEPREFIX、なければ ~/.wine です。"},
    {"--steam-app APPID",
     "SteamのゲームAPPIDのProtonのプレフィックス（いずれかのSteamライブラリの steamapps/compatdata/APPID/pfx）"
     "を、--wine-prefix と同じように使います。"},
    {"--windows DIR", "WindowsのインストールDIR（System32\\config を含むフォルダか、Windows を含むディスクのルート）の"
                      "ハイブファイルを使います。SOFTWARE、SYSTEM、SAM、SECURITY、DEFAULT を HKLM の下に、"
                      "HKLM\\SOFTWARE\\Classes を HKCR にします。--write がなければ何も書き込みません。"},
    {"--user FILE", "--windows と一緒に使い、NTUSER.DAT の FILE を HKCU にします（なければ HKCU は空です）。"},
    {"--hive FILE --as KEY",
     "1つのハイブファイル FILE を、KEY（'HKLM\\SOFTWARE'）として表示して使います。--write がなければ何も"
     "書き込みません。"},
    {"--write",
     "ハイブファイルの変更を許します。最初の変更の前に、各ハイブのコピーをその横に一度だけ残します。Windowsが"
     "正しくシャットダウンしなかったハイブには書き込みません。"},
    {"-h, --help", "このヘルプを表示して終了します。"},
    {"--version", "バージョンを表示して終了します。"},
};

constexpr HelpEntry kOptionNotes[] = {
    {"", "どのコマンドも最初の引数に --help を取れます。-- は query、get、find、diff、registries のオプションの"
         "終わりを示し、その後には - で始まる名前を書けます。"},
};

constexpr HelpEntry kExitStatus[] = {
    {"", "0 は成功。1 は失敗（キーや値がない、ルート・種類・データが正しくない、レジストリを開けない、読み取り"
         "専用のレジストリへの書き込み、ファイルを書き込めない・読めない・インポートできない、ストアが保持し"
         "なかった書き込み）。2 は使い方の誤り（コマンドやオプションが分からない、引数の数が違う、FILE 以外の"
         "引数がUTF-8ではない）。"},
    {"", "find は、0 が見つかった、1 が見つからなかった、2 が失敗か使い方の誤りです（grep と同じ）。diff は、0 が"
         "違いなし、1 が違いあり、2 が失敗か使い方の誤りです。"},
};

constexpr HelpEntry kExamples[] = {
    {"", "tovik-reg export 'HKCU\\Software\\Game' before.reg --format reg"},
    {"", "（インストーラを実行する）"},
    {"", "tovik-reg diff before.reg 'HKCU\\Software\\Game'"},
    {"", "tovik-reg --wine-prefix ~/.wine diff 'HKLM\\Software' --b --wine-prefix ~/fresh"},
    {"", "tovik-reg import --dry-run fix.reg"},
};

constexpr HelpSection kSections[] = {
    {Kind::Lines, "使い方:", "書式", 2, 0, kUsage},
    {Kind::Entries, "", "説明", 0, 0, kDescription},
    {Kind::Entries, "コマンド:", "コマンド", 2, 29, kCommands},
    {Kind::Entries, "引数:", "引数", 2, 11, kArguments},
    {Kind::Entries, "オプション:", "オプション", 2, 29, kOptions},
    {Kind::Entries, "", "", 0, 0, kOptionNotes},
    {Kind::Entries, "終了ステータス:", "終了ステータス", 0, 0, kExitStatus},
    {Kind::Lines, "例:", "例", 2, 0, kExamples},
};

// The end of the short usage, after the command lines it shares with the English one.
constexpr std::string_view kShortUsageEnd =
    "REGISTRY は --registry FILE、--wine-prefix [DIR]、--steam-app APPID、\n"
    "  --windows DIR [--user FILE] [--write]、--hive FILE --as KEY [--write] のどれか\n"
    "詳しくは 'tovik-reg --help' を見てください。\n";

constexpr HelpDocument kJapanese{
    "Tovikのレジストリ、Wineのプレフィックスのレジストリファイル、Windowsのハイブファイルをコマンドラインから"
    "読み書きする",
    "2026-12-10",
    "ユーザーコマンド",
    kSections,
    "使い方:",
    kShortUsageEnd,
};

}  // namespace

const HelpDocument& japaneseHelp() {
    return kJapanese;
}

}  // namespace tovik::cli
