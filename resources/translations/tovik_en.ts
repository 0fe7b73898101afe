<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Tovik</name>
    <message>
        <source>Tovik のバージョン情報</source>
        <translation>About Tovik</translation>
    </message>
    <message>
        <source>レジストリ エディタ</source>
        <translation>Registry Editor</translation>
    </message>
    <message>
        <source>空白(区切り)</source>
        <translation>Space (separator)</translation>
    </message>
    <message>
        <source>ﾂｰﾙ</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>エクスポート（書き出し）</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>インポート（取り込み）</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>アプリケーションの終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>編集</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>値 削除</source>
        <translation>Delete Value</translation>
    </message>
    <message>
        <source>キー 削除</source>
        <translation>Delete Key</translation>
    </message>
    <message>
        <source>キーの追加</source>
        <translation>Add Key</translation>
    </message>
    <message>
        <source>値REG_DWの追加</source>
        <translation>Add REG_DW Value</translation>
    </message>
    <message>
        <source>値REG_MULTI_SZの追加</source>
        <translation>Add REG_MULTI_SZ Value</translation>
    </message>
    <message>
        <source>値REG_SZの追加</source>
        <translation>Add REG_SZ Value</translation>
    </message>
    <message>
        <source>その他の値の追加</source>
        <translation>Add Other Value</translation>
    </message>
    <message>
        <source>表示</source>
        <translation>View</translation>
    </message>
    <message>
        <source>キーのみ表示</source>
        <translation>Keys Only</translation>
    </message>
    <message>
        <source>値のみ表示</source>
        <translation>Values Only</translation>
    </message>
    <message>
        <source>両方表示</source>
        <translation>Both</translation>
    </message>
    <message>
        <source>ﾍﾙﾌﾟ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Harnet のバージョン情報(&amp;A)...</source>
        <translation>&amp;About Harnet...</translation>
    </message>
    <message>
        <source>十分注意して使用してください。キーを消す前にはエクスポートしておいてください。</source>
        <translation>Use with great care. Export a key before you delete it.</translation>
    </message>
    <message>
        <source>キーが選択されていません</source>
        <translation>No key is selected</translation>
    </message>
    <message>
        <source>ファイルを作成できません。エクスポートしませんでした。</source>
        <translation>The file cannot be created. Nothing was exported.</translation>
    </message>
    <message>
        <source>キーを開けません。エクスポートしませんでした。</source>
        <translation>The key cannot be opened. Nothing was exported.</translation>
    </message>
    <message>
        <source>レジストリを読み出せません。エクスポートを中止しました。選んだファイルは変更していません。</source>
        <translation>The registry cannot be read. The export was stopped; the chosen file has not been changed.</translation>
    </message>
    <message>
        <source>ファイルに書き込めません。エクスポートを中止しました。選んだファイルは変更していません。</source>
        <translation>The file cannot be written. The export was stopped; the chosen file has not been changed.</translation>
    </message>
    <message>
        <source>他のユーザーが置いたリンクです。エクスポートしませんでした。</source>
        <translation>This is a link another user placed. Nothing was exported.</translation>
    </message>
    <message>
        <source>レジストリのファイルそのものには書き出せません。エクスポートしませんでした。</source>
        <translation>The registry&apos;s own file cannot be the target. Nothing was exported.</translation>
    </message>
    <message>
        <source>エクスポートを中止しました。選んだファイルは変更していません。</source>
        <translation>The export was stopped. The chosen file has not been changed.</translation>
    </message>
    <message>
        <source>インポートで元どおりに戻らない値を%1個書き出しました。このファイルからは復元できません。</source>
        <translation>%1 values were written that an import cannot give back as they are. They cannot be restored from this file.</translation>
    </message>
    <message>
        <source>Unicodeではありません</source>
        <translation>Not Unicode</translation>
    </message>
    <message>
        <source>ファイル形式エラー インポート失敗</source>
        <translation>File format error. Import failed</translation>
    </message>
    <message>
        <source>ルートキーなし インポート失敗</source>
        <translation>No root key. Import failed</translation>
    </message>
    <message>
        <source>インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。</source>
        <translation>The import file is damaged. Loading ended part way; the display will be wrong as well.</translation>
    </message>
    <message>
        <source>インポート終了、表示を初期化します</source>
        <translation>Import finished; the display is reset</translation>
    </message>
    <message>
        <source>通常のファイルではありません。インポートしませんでした。</source>
        <translation>Not a regular file. Nothing was imported.</translation>
    </message>
    <message>
        <source>メモリが足りません。インポートしませんでした。</source>
        <translation>Not enough memory. Nothing was imported.</translation>
    </message>
    <message>
        <source>書き込めなかった値が%1個、キーが%2個あります（%3）。</source>
        <translation>%1 values and %2 keys could not be written (%3).</translation>
    </message>
    <message>
        <source>%1行目でインポートを中止しました。</source>
        <translation> The import stopped at line %1.</translation>
    </message>
    <message>
        <source>インポートを中止しました。%1行目までを書き込みました。表示を初期化します</source>
        <translation>The import was stopped. The lines up to line %1 are written; the display is reset</translation>
    </message>
    <message>
        <source>型の分からない値の行を%1行読み飛ばしました</source>
        <translation>%1 value lines of an unknown type were skipped</translation>
    </message>
    <message>
        <source>他のプログラムがレジストリを使用中です</source>
        <translation>another program is using the registry</translation>
    </message>
    <message>
        <source>値が大きすぎるか、名前が長すぎるか、キーが深すぎます</source>
        <translation>a value is too large, a name too long or a key too deep</translation>
    </message>
    <message>
        <source>メモリが足りません</source>
        <translation>not enough memory</translation>
    </message>
    <message>
        <source>親のキーがありません</source>
        <translation>the parent key does not exist</translation>
    </message>
    <message>
        <source>キーが他のプログラムに削除されました</source>
        <translation>another program deleted the key</translation>
    </message>
    <message>
        <source>ディスクがいっぱいか、レジストリのファイルを大きくできません</source>
        <translation>the disk is full or the registry file cannot grow</translation>
    </message>
    <message>
        <source>レジストリに書き込めません</source>
        <translation>the registry cannot be written</translation>
    </message>
    <message>
        <source>10桁以上あります（10進）</source>
        <translation>10 or more digits (decimal)</translation>
    </message>
    <message>
        <source>8文字以上あります（16進）</source>
        <translation>8 or more characters (hexadecimal)</translation>
    </message>
    <message>
        <source>整数を入力してください。</source>
        <translation>Enter an integer.</translation>
    </message>
    <message>
        <source>レジストリが壊れています。キーが自分自身の中にあるため、その先は表示しません。</source>
        <translation>The registry is damaged: a key lies inside itself, so what is below it is not shown.</translation>
    </message>
    <message>
        <source>このキーはハイブの始まるキーか、ルートやハイブを配下に持つため、削除できません。何も削除していません。</source>
        <translation>This key is where a hive begins, or a root or a hive lies below it, so it cannot be deleted. Nothing was deleted.</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>エクスポートしています… %1 キー</source>
        <translation>Exporting… %1 keys</translation>
    </message>
    <message>
        <source>インポートしています…</source>
        <translation>Importing…</translation>
    </message>
    <message>
        <source>既に存在します</source>
        <translation>It already exists</translation>
    </message>
    <message>
        <source>キーを削除します。配下のキーも消えます。
よろしいですか？</source>
        <translation> key will be deleted, with every key below it.
Are you sure?</translation>
    </message>
    <message>
        <source>レジストリを読み込んでいます… %1 キー</source>
        <translation>Reading the registry… %1 keys</translation>
    </message>
    <message>
        <source>未サポートです。</source>
        <translation>Not supported.</translation>
    </message>
    <message>
        <source>元に戻せなくなります。
よろしいですか？</source>
        <translation>This cannot be undone.
Are you sure?</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>ﾀｲﾌﾟ</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>値</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>バイナリ編集</source>
        <translation>Edit Binary</translation>
    </message>
    <message>
        <source>その他の値</source>
        <translation>Other Value</translation>
    </message>
    <message>
        <source>名前：</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>データ：</source>
        <translation>Data:</translation>
    </message>
    <message>
        <source>数値編集</source>
        <translation>Edit Number</translation>
    </message>
    <message>
        <source>数値の追加（DWORD)</source>
        <translation>Add Number (DWORD)</translation>
    </message>
    <message>
        <source>10進</source>
        <translation>Dec</translation>
    </message>
    <message>
        <source>16進</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>文字編集</source>
        <translation>Edit String</translation>
    </message>
    <message>
        <source>文字の追加（REG_SZ）</source>
        <translation>Add String (REG_SZ)</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ (*)</source>
        <translation>Files (*)</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名参照</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>インポート確認</source>
        <translation>Confirm Import</translation>
    </message>
    <message>
        <source>名前の変更</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>キーのパスをコピー</source>
        <translation>Copy Key Path</translation>
    </message>
    <message>
        <source>検索...</source>
        <translation>Find...</translation>
    </message>
    <message>
        <source>次を検索</source>
        <translation>Find Next</translation>
    </message>
    <message>
        <source>前を検索</source>
        <translation>Find Previous</translation>
    </message>
    <message>
        <source>アドレスバー</source>
        <translation>Address Bar</translation>
    </message>
    <message>
        <source>アドレスバーへ移動</source>
        <translation>Go to Address Bar</translation>
    </message>
    <message>
        <source>最新の情報に更新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>お気に入り</source>
        <translation>Favorites</translation>
    </message>
    <message>
        <source>お気に入りに追加</source>
        <translation>Add to Favorites</translation>
    </message>
    <message>
        <source>お気に入りの削除</source>
        <translation>Remove Favorite</translation>
    </message>
    <message>
        <source>最終更新</source>
        <translation>Last Written</translation>
    </message>
    <message>
        <source>最終更新 %1</source>
        <translation>Last written %1</translation>
    </message>
    <message>
        <source>更新日:</source>
        <translation>Written on:</translation>
    </message>
    <message>
        <source>～</source>
        <translation>to</translation>
    </message>
    <message>
        <source>読み取り専用</source>
        <translation>Read-only</translation>
    </message>
    <message>
        <source>このレジストリは読み取り専用で開きました。変更は保存できません。</source>
        <translation>This registry was opened read-only. Changes cannot be saved.</translation>
    </message>
    <message>
        <source>名前を入力してください。</source>
        <translation>Enter a name.</translation>
    </message>
    <message>
        <source>キーの名前に \ は使えません。</source>
        <translation>A key name cannot contain \.</translation>
    </message>
    <message>
        <source>ルートキーの名前は変更できません。</source>
        <translation>A root key cannot be renamed.</translation>
    </message>
    <message>
        <source>名前を変更できませんでした。</source>
        <translation>The name could not be changed.</translation>
    </message>
    <message>
        <source>キーを%1個、値を%2個書き込み、キーを%3個、値を%4個削除しました。</source>
        <translation>Wrote %1 keys and %2 values; deleted %3 keys and %4 values.</translation>
    </message>
    <message>
        <source>%1行を読み飛ばしました。</source>
        <translation> Skipped %1 lines.</translation>
    </message>
    <message>
        <source>%1行目: %2</source>
        <translation>Line %1: %2</translation>
    </message>
    <message>
        <source>書き込めなかった値が%1個、キーが%2個あります。</source>
        <translation>%1 values and %2 keys could not be written.</translation>
    </message>
    <message>
        <source>削除できなかったものが%1個あります。</source>
        <translation> %1 could not be deleted.</translation>
    </message>
    <message>
        <source>書き込んだ%1個がレジストリに残りませんでした。</source>
        <translation> %1 that were written did not stay in the registry.</translation>
    </message>
    <message>
        <source>キーの行が正しくありません</source>
        <translation>the key line is not valid</translation>
    </message>
    <message>
        <source>ルートキーの名前が分かりません</source>
        <translation>unknown root key name</translation>
    </message>
    <message>
        <source>ルートキーは削除できません</source>
        <translation>a root key cannot be deleted</translation>
    </message>
    <message>
        <source>値の行が正しくありません</source>
        <translation>the value line is not valid</translation>
    </message>
    <message>
        <source>文字列のエスケープが正しくありません</source>
        <translation>bad escape in a string</translation>
    </message>
    <message>
        <source>文字列が閉じていません</source>
        <translation>unterminated string</translation>
    </message>
    <message>
        <source>dword の値が正しくありません</source>
        <translation>bad dword value</translation>
    </message>
    <message>
        <source>16進データが正しくありません</source>
        <translation>bad hexadecimal data</translation>
    </message>
    <message>
        <source>データの形式が分かりません</source>
        <translation>unknown data form</translation>
    </message>
    <message>
        <source>行の形式が分かりません</source>
        <translation>unknown line</translation>
    </message>
    <message>
        <source>キーを作成できません</source>
        <translation>the key cannot be created</translation>
    </message>
    <message>
        <source>キーを削除できません</source>
        <translation>the key cannot be deleted</translation>
    </message>
    <message>
        <source>値を書き込めません</source>
        <translation>the value cannot be written</translation>
    </message>
    <message>
        <source>値を削除できません</source>
        <translation>the value cannot be deleted</translation>
    </message>
    <message>
        <source>登録ファイル(*.reg)</source>
        <translation>Registration file (*.reg)</translation>
    </message>
    <message>
        <source>登録ファイル REGEDIT4(*.reg)</source>
        <translation>Registration file REGEDIT4 (*.reg)</translation>
    </message>
    <message>
        <source>ﾚｼﾞｽﾄﾘ退避ﾌｧｲﾙ(*.txt)</source>
        <translation>Registry backup file (*.txt)</translation>
    </message>
    <message>
        <source>全て(*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>見つかりませんでした。</source>
        <translation>Not found.</translation>
    </message>
    <message>
        <source>
読み取れないキーや値がありました。</source>
        <translation>
Some keys or values could not be read.</translation>
    </message>
    <message>
        <source>キーのパスが正しくありません。HKEY_LOCAL_MACHINE\Software のように入力してください。</source>
        <translation>The key path is not valid. Enter it like HKEY_LOCAL_MACHINE\Software.</translation>
    </message>
    <message>
        <source>検索</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>検索しています...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>検索する文字列:</source>
        <translation>Find what:</translation>
    </message>
    <message>
        <source>検索対象</source>
        <translation>Look at</translation>
    </message>
    <message>
        <source>キー名</source>
        <translation>Key names</translation>
    </message>
    <message>
        <source>値の名前</source>
        <translation>Value names</translation>
    </message>
    <message>
        <source>データ</source>
        <translation>Data</translation>
    </message>
    <message>
        <source>大文字と小文字を区別</source>
        <translation>Match case</translation>
    </message>
    <message>
        <source>完全一致</source>
        <translation>Match whole string only</translation>
    </message>
    <message>
        <source>検索開始位置</source>
        <translation>Start from</translation>
    </message>
    <message>
        <source>選択したキーから</source>
        <translation>The selected key</translation>
    </message>
    <message>
        <source>先頭から</source>
        <translation>The top</translation>
    </message>
    <message>
        <source>すべて検索</source>
        <translation>Find all</translation>
    </message>
    <message>
        <source>検索結果</source>
        <translation>Find results</translation>
    </message>
    <message>
        <source>キー</source>
        <translation>Key</translation>
    </message>
    <message>
        <source>%1 件見つかりました。</source>
        <translation>%1 found.</translation>
    </message>
    <message>
        <source>最初の %1 件だけを表示しています。</source>
        <translation> Only the first %1 are shown.</translation>
    </message>
    <message>
        <source>キー「%1」は存在しません。
%2 までは存在します。</source>
        <translation>The key &quot;%1&quot; does not exist.
The path exists up to %2.</translation>
    </message>
    <message>
        <source>登録ファイルのヘッダー「%1」が分かりません。インポートしませんでした。</source>
        <translation>Unknown .reg file header &quot;%1&quot;. Nothing was imported.</translation>
    </message>
    <message>
        <source>途切れた16進データの続きとして読み飛ばしました</source>
        <translation>skipped as the rest of the broken hex data before it</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>レジストリを開く...</source>
        <translation>Open Registry...</translation>
    </message>
    <message>
        <source>新しいウィンドウを開けませんでした。</source>
        <translation>The new window could not be opened.</translation>
    </message>
    <message>
        <source>ハイブ</source>
        <translation>Hive</translation>
    </message>
    <message>
        <source>レジストリを開く</source>
        <translation>Open Registry</translation>
    </message>
    <message>
        <source>見つかったもの</source>
        <translation>Found</translation>
    </message>
    <message>
        <source>最近開いたもの</source>
        <translation>Recent</translation>
    </message>
    <message>
        <source>その他のフォルダーやファイル</source>
        <translation>Other Folder or File</translation>
    </message>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>名前とフォルダー</source>
        <translation>Name and folder</translation>
    </message>
    <message>
        <source>種類</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>変更日</source>
        <translation>Changed</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>Wine プレフィックス（フォルダー）</source>
        <translation>Wine prefix (a folder)</translation>
    </message>
    <message>
        <source>Windows フォルダー（System32\config を含むフォルダー）</source>
        <translation>Windows folder (the one holding System32\config)</translation>
    </message>
    <message>
        <source>ハイブファイル（1 つ）</source>
        <translation>One hive file</translation>
    </message>
    <message>
        <source>Tovik のレジストリファイル</source>
        <translation>Tovik registry file</translation>
    </message>
    <message>
        <source>種類:</source>
        <translation>Kind:</translation>
    </message>
    <message>
        <source>参照...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>場所:</source>
        <translation>Location:</translation>
    </message>
    <message>
        <source>ユーザーの NTUSER.DAT（省略可）:</source>
        <translation>The user's NTUSER.DAT (optional):</translation>
    </message>
    <message>
        <source>表示するキー（例: HKLM\SOFTWARE）:</source>
        <translation>Key to show it under (for example HKLM\SOFTWARE):</translation>
    </message>
    <message>
        <source>変更を許可する（ハイブファイルに書き込む）</source>
        <translation>Allow changes (writes the hive files)</translation>
    </message>
    <message>
        <source>Tovik のレジストリ(*.db);;全て(*.*)</source>
        <translation>Tovik registry (*.db);;All (*.*)</translation>
    </message>
    <message>
        <source>NTUSER.DAT(NTUSER.DAT ntuser.dat);;全て(*.*)</source>
        <translation>NTUSER.DAT (NTUSER.DAT ntuser.dat);;All (*.*)</translation>
    </message>
    <message>
        <source>変更日時: %1</source>
        <translation>Changed: %1</translation>
    </message>
    <message>
        <source>実行中</source>
        <translation>Running</translation>
    </message>
    <message>
        <source>Wine が実行中です。読み取り専用で開きます。</source>
        <translation>Wine is running it: it opens read-only.</translation>
    </message>
    <message>
        <source>探しています… %1 件</source>
        <translation>Searching… %1 found</translation>
    </message>
    <message>
        <source>見つかりませんでした。「その他のフォルダーやファイル」から開けます。</source>
        <translation>Nothing found. Open one from &quot;Other Folder or File&quot;.</translation>
    </message>
    <message>
        <source>開くフォルダーまたはファイルを指定してください。</source>
        <translation>Name the folder or file to open.</translation>
    </message>
    <message>
        <source>%1 はフォルダーではありません。</source>
        <translation>%1 is not a folder.</translation>
    </message>
    <message>
        <source>%1 はファイルではありません。</source>
        <translation>%1 is not a file.</translation>
    </message>
    <message>
        <source>%1 は Wine プレフィックスではありません（system.reg も user.reg もありません）。</source>
        <translation>%1 is not a Wine prefix (it has neither system.reg nor user.reg).</translation>
    </message>
    <message>
        <source>ハイブを表示するキーを指定してください（例: HKLM\SOFTWARE）。</source>
        <translation>Name the key to show the hive under (for example HKLM\SOFTWARE).</translation>
    </message>
    <message>
        <source>バイナリデータの変更</source>
        <translation>Modify Binary Data</translation>
    </message>
    <message>
        <source>レジストリが壊れているため、検索を最後まで行えませんでした。</source>
        <translation>The registry is damaged, so the search could not go to the end.</translation>
    </message>
    <message>
        <source>レジストリが壊れています。キーが自分自身の中にあるため、削除を途中で止めました。</source>
        <translation>The registry is damaged: a key lies inside itself, so the delete was stopped part way.</translation>
    </message>
    <message>
        <source>Windowsが正しく終了していません。%1 は書き込みの途中で止まっています。hivexではその続きを行えないため、このハイブは読み取り専用で開きました。そのWindowsを起動し、正しく終了させると書き込めます。</source>
        <translation>Windows did not shut down cleanly: %1 was being written when Windows stopped. hivex cannot replay it, so the hive is open read-only. Start that Windows and shut it down normally to write it.</translation>
    </message>
    <message>
        <source>Windowsが正しく終了していません。%1 にはトランザクションログ %2 に残った変更があります。hivexではその続きを行えないため、このハイブは読み取り専用で開きました。そのWindowsを起動し、正しく終了させると書き込めます。</source>
        <translation>Windows did not shut down cleanly: %1 has changes waiting in its transaction log %2. hivex cannot replay it, so the hive is open read-only. Start that Windows and shut it down normally to write it.</translation>
    </message>
    <message>
        <source>%1 はWindowsのレジストリハイブではないか、壊れています（%2）。</source>
        <translation>%1 is not a Windows registry hive, or it is damaged (%2).</translation>
    </message>
    <message>
        <source>Wineがこのプレフィックスを使っています（wineserver、プロセス %1）。Wineはレジストリをメモリに持っていて変更を上書きするため、読み取り専用で開きました。先に「wineserver -k」で止めてください。</source>
        <translation>Wine is running this prefix (wineserver, process %1): it keeps the registry in memory and would overwrite any change, so the prefix is open read-only. Stop it with &quot;wineserver -k&quot; first.</translation>
    </message>
    <message>
        <source>Wineがこのプレフィックスを使っています。Wineはレジストリをメモリに持っていて変更を上書きするため、読み取り専用で開きました。先に「wineserver -k」で止めてください。</source>
        <translation>Wine is running this prefix: it keeps the registry in memory and would overwrite any change, so the prefix is open read-only. Stop it with &quot;wineserver -k&quot; first.</translation>
    </message>
    <message>
        <source>Wineがこのプレフィックスを使っているかどうか分からない（%1）ため、読み取り専用で開きました。</source>
        <translation>It cannot be told whether Wine is running this prefix (%1), so it is open read-only.</translation>
    </message>
    <message>
        <source>このプレフィックスのWineのロックを取れない（%1）ため、読み取り専用で開きました。</source>
        <translation>Wine&apos;s lock of this prefix cannot be taken (%1), so it is open read-only.</translation>
    </message>
    <message>
        <source>ハイブは読み取り専用で開いています。変更するには --write を付けて開いてください。</source>
        <translation>The hives are open read-only: give --write to change them.</translation>
    </message>
    <message>
        <source>このハイブは開かずに続けます。</source>
        <translation> It is left out.</translation>
    </message>
    <message>
        <source>Windowsが正しく終了していないため、次のハイブは書き込みの途中で止まっています。hivexではその続きを行えないため、これらは読み取り専用で開きました。そのWindowsを起動し、正しく終了させると書き込めます。</source>
        <translation>Windows did not shut down cleanly, so these hives were being written when it stopped. hivex cannot replay them, so they are open read-only. Start that Windows and shut it down normally to write them.</translation>
    </message>
    <message>
        <source>比較...</source>
        <translation>Compare...</translation>
    </message>
    <message>
        <source>比較</source>
        <translation>Compare</translation>
    </message>
    <message>
        <source>比較結果</source>
        <translation>Comparison</translation>
    </message>
    <message>
        <source>%1 個のキーを比較しました</source>
        <translation>%1 keys compared</translation>
    </message>
    <message>
        <source>元に戻す</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>やり直し</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>変更履歴...</source>
        <translation>Change History...</translation>
    </message>
    <message>
        <source>編集 &gt; 元に戻す で元に戻せます。
よろしいですか？</source>
        <translation>Edit &gt; Undo brings it back.
Are you sure?</translation>
    </message>
    <message>
        <source>変更履歴</source>
        <translation>Change History</translation>
    </message>
    <message>
        <source>時刻</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>ここまで元に戻す</source>
        <translation>Undo Back to Here</translation>
    </message>
    <message>
        <source> (元に戻し済み)</source>
        <translation> (undone)</translation>
    </message>
    <message>
        <source>変更はまだありません。</source>
        <translation>No changes yet.</translation>
    </message>
    <message>
        <source>%1 件の変更</source>
        <translation>%1 changes</translation>
    </message>
    <message>
        <source>（古い %1 件は履歴から削除されました）</source>
        <translation> (%1 older changes were dropped from the history)</translation>
    </message>
    <message>
        <source>キー %1</source>
        <translation>the key %1</translation>
    </message>
    <message>
        <source>(既定)</source>
        <translation>(Default)</translation>
    </message>
    <message>
        <source>A→B の .reg を保存...</source>
        <translation>Save .reg turning A into B...</translation>
    </message>
    <message>
        <source>B→A の .reg を保存...</source>
        <translation>Save .reg turning B into A...</translation>
    </message>
    <message>
        <source>Tovik レジストリ ファイル</source>
        <translation>Tovik registry file</translation>
    </message>
    <message>
        <source>Wine プレフィックス</source>
        <translation>Wine prefix</translation>
    </message>
    <message>
        <source>このレジストリのキー</source>
        <translation>A key of this registry</translation>
    </message>
    <message>
        <source>すべてのファイル(*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>キー %1 を読み込めませんでした。比較を中止しました。</source>
        <translation>The key %1 could not be read. The comparison was stopped.</translation>
    </message>
    <message>
        <source>キー:</source>
        <translation>Key:</translation>
    </message>
    <message>
        <source>キーのパスが正しくありません。</source>
        <translation>The key path is not valid.</translation>
    </message>
    <message>
        <source>ファイルを書き込めませんでした。</source>
        <translation>The file could not be written.</translation>
    </message>
    <message>
        <source>ファイル・フォルダ:</source>
        <translation>File or folder:</translation>
    </message>
    <message>
        <source>差</source>
        <translation>Diff</translation>
    </message>
    <message>
        <source>比較するキーがどちらにもありません。</source>
        <translation>Neither side has the key to compare.</translation>
    </message>
    <message>
        <source>比較する相手:</source>
        <translation>Compare with:</translation>
    </message>
    <message>
        <source>比較する相手を開けませんでした。</source>
        <translation>What to compare with could not be opened.</translation>
    </message>
    <message>
        <source>比較できませんでした。ファイルは書き込んでいません。</source>
        <translation>The comparison failed. The file was not written.</translation>
    </message>
    <message>
        <source>登録ファイルを読み込めませんでした。</source>
        <translation>The registration file could not be read.</translation>
    </message>
    <message>
        <source>相違 %1 件</source>
        <translation>%1 differences</translation>
    </message>
    <message>
        <source>相違のみ表示</source>
        <translation>Differences only</translation>
    </message>
    <message>
        <source>相違はありません。</source>
        <translation>No differences.</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>インポートによる変更点</source>
        <translation>Changes the import would make</translation>
    </message>
    <message>
        <source>変更点...</source>
        <translation>Changes...</translation>
    </message>
    <message>
        <source>レジストリを読み込めませんでした。</source>
        <translation>The registry could not be read.</translation>
    </message>
    <message>
        <source>変更はありません。</source>
        <translation>Nothing would change.</translation>
    </message>
    <message>
        <source>変更のない値 %1 個は省きました。</source>
        <translation>%1 values that would stay as they are are left out.</translation>
    </message>
    <message>
        <source>%1行目でファイルが壊れています。インポートはそこで終わります。</source>
        <translation>The file is broken at line %1: the import would end there.</translation>
    </message>
    <message>
        <source>A を B に合わせる</source>
        <translation>Make A like B</translation>
    </message>
    <message>
        <source>B を A に合わせる</source>
        <translation>Make B like A</translation>
    </message>
    <message>
        <source>選んだ相違を A で B と同じにします</source>
        <translation>Makes the selected difference on A as B has it</translation>
    </message>
    <message>
        <source>選んだ相違を B で A と同じにします</source>
        <translation>Makes the selected difference on B as A has it</translation>
    </message>
    <message>
        <source>比較結果から適用</source>
        <translation>Apply from comparison</translation>
    </message>
    <message>
        <source>バックアップファイル</source>
        <translation>Backup file</translation>
    </message>
    <message>
        <source>Windows フォルダー</source>
        <translation>Windows folder</translation>
    </message>
    <message>
        <source>ハイブ ファイル</source>
        <translation>Hive file</translation>
    </message>
    <message>
        <source>ハイブの位置:</source>
        <translation>Hive shown as:</translation>
    </message>
    <message>
        <source>バックアップファイルを読み込めませんでした。</source>
        <translation>The backup file could not be read.</translation>
    </message>
    <message>
        <source>適用できませんでした（%1）。</source>
        <translation>Could not apply (%1).</translation>
    </message>
    <message>
        <source>%1 の値 %2</source>
        <translation>the value %2 of %1</translation>
    </message>
    <message>
        <source>元に戻す: %1</source>
        <translation>Undo: %1</translation>
    </message>
    <message>
        <source>やり直し: %1</source>
        <translation>Redo: %1</translation>
    </message>
    <message>
        <source>値の変更 %1</source>
        <translation>Change value %1</translation>
    </message>
    <message>
        <source>値 削除 %1</source>
        <translation>Delete value %1</translation>
    </message>
    <message>
        <source>キーの追加%1</source>
        <translation>Add key%1</translation>
    </message>
    <message>
        <source>キー 削除%1</source>
        <translation>Delete key%1</translation>
    </message>
    <message>
        <source>名前の変更 %1</source>
        <translation>Rename %1</translation>
    </message>
    <message>
        <source>元に戻す (%1 件)</source>
        <translation>Undo (%1 changes)</translation>
    </message>
    <message>
        <source>やり直し (%1 件)</source>
        <translation>Redo (%1 changes)</translation>
    </message>
    <message>
        <source>元に戻せませんでした。この変更の後に、次のものが変更されています: %1</source>
        <translation>Nothing was undone: %1 was changed after this change.</translation>
    </message>
    <message>
        <source>やり直せませんでした。元に戻した後に、次のものが変更されています: %1</source>
        <translation>Nothing was redone: %1 was changed after the undo.</translation>
    </message>
    <message>
        <source>元に戻せませんでした。</source>
        <translation>Nothing was undone.</translation>
    </message>
    <message>
        <source>やり直せませんでした。</source>
        <translation>Nothing was redone.</translation>
    </message>
    <message>
        <source>%1 以降に更新</source>
        <translation>Changed since %1</translation>
    </message>
    <message>
        <source>解除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>更新日で絞り込み...</source>
        <translation>Filter by Date Changed...</translation>
    </message>
    <message>
        <source>絞り込みの解除</source>
        <translation>Clear Date Filter</translation>
    </message>
</context>
</TS>
