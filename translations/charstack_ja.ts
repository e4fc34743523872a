<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About charstack</source>
        <translation>charstack について</translation>
    </message>
    <message>
        <source>Composes game characters out of stacked images.</source>
        <translation>重ねた画像からゲームのキャラクターを組み立てます。</translation>
    </message>
    <message>
        <source>Free software under the MIT licence.</source>
        <translation>MIT ライセンスのフリーソフトウェアです。</translation>
    </message>
    <message>
        <source>A project is a folder holding data.txt and an img folder with one picture per record. The open project is stored in:</source>
        <translation>プロジェクトは、data.txt と、レコードごとに 1 枚の画像を収めた img フォルダーからなるフォルダーです。開いているプロジェクトの保存場所:</translation>
    </message>
</context>
<context>
    <name>Edit</name>
    <message>
        <source>Insert Character</source>
        <translation>キャラクターを挿入</translation>
    </message>
    <message>
        <source>Insert Layer</source>
        <translation>レイヤーを挿入</translation>
    </message>
    <message>
        <source>Remove Character</source>
        <translation>キャラクターを削除</translation>
    </message>
    <message>
        <source>Remove Layer</source>
        <translation>レイヤーを削除</translation>
    </message>
    <message>
        <source>Rename Character</source>
        <translation>キャラクター名を変更</translation>
    </message>
    <message>
        <source>Rename Layer</source>
        <translation>レイヤー名を変更</translation>
    </message>
    <message>
        <source>Change Depth of Character</source>
        <translation>キャラクターの深さを変更</translation>
    </message>
    <message>
        <source>Change Depth of Layer</source>
        <translation>レイヤーの深さを変更</translation>
    </message>
    <message>
        <source>Show Layer</source>
        <translation>レイヤーを表示</translation>
    </message>
    <message>
        <source>Hide Layer</source>
        <translation>レイヤーを非表示</translation>
    </message>
    <message>
        <source>Set Picture of Character</source>
        <translation>キャラクターの画像を設定</translation>
    </message>
    <message>
        <source>Set Picture of Layer</source>
        <translation>レイヤーの画像を設定</translation>
    </message>
    <message>
        <source>Clear Picture of Character</source>
        <translation>キャラクターの画像を消去</translation>
    </message>
    <message>
        <source>Clear Picture of Layer</source>
        <translation>レイヤーの画像を消去</translation>
    </message>
    <message>
        <source>Move Character</source>
        <translation>キャラクターを移動</translation>
    </message>
    <message>
        <source>Move Layer</source>
        <translation>レイヤーを移動</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message numerus="yes">
        <source> (and %n more in the Problems panel)</source>
        <translation>
            <numerusform>（ほか %n 件は「問題」パネルに表示）</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>charstack::ImageWellWidget</name>
    <message>
        <source>Drop or paste an image here; Delete empties the well</source>
        <translation>ここに画像をドロップまたは貼り付けます。Delete キーで空にします</translation>
    </message>
    <message>
        <source>Select a row first: the well has no row to hold the image.</source>
        <translation>先に行を選択してください。画像を受け取る行がありません。</translation>
    </message>
    <message>
        <source>Not an image: nothing was changed.</source>
        <translation>画像ではありません。何も変更しませんでした。</translation>
    </message>
    <message>
        <source>The clipboard holds no image.</source>
        <translation>クリップボードに画像がありません。</translation>
    </message>
</context>
<context>
    <name>charstack::MainWindow</name>
    <message>
        <source>%1[*] — charstack</source>
        <translation>%1[*] — charstack</translation>
    </message>
    <message>
        <source>Problems found when opening the project</source>
        <translation>プロジェクトを開いたときに見つかった問題</translation>
    </message>
    <message>
        <source>Insert Character</source>
        <translation>キャラクターを挿入</translation>
    </message>
    <message>
        <source>Remove Character</source>
        <translation>キャラクターを削除</translation>
    </message>
    <message>
        <source>Insert Layer</source>
        <translation>レイヤーを挿入</translation>
    </message>
    <message>
        <source>Remove Layer</source>
        <translation>レイヤーを削除</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Save the project (%1)</source>
        <translation>プロジェクトを保存 (%1)</translation>
    </message>
    <message>
        <source>Characters</source>
        <translation>キャラクター</translation>
    </message>
    <message>
        <source>Layers</source>
        <translation>レイヤー</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>編集(&amp;E)</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>元に戻す</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>やり直す</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About charstack</source>
        <translation>charstack について(&amp;A)</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>Problem</source>
        <translation>問題</translation>
    </message>
    <message>
        <source>Problems</source>
        <translation>問題</translation>
    </message>
    <message>
        <source>%1 changed on disk: its new picture is shown</source>
        <translation>%1 がディスク上で変更されました。新しい画像を表示しています</translation>
    </message>
    <message>
        <source>%1 was deleted on disk: the editor keeps the picture and the next save writes it again</source>
        <translation>%1 がディスク上で削除されました。画像はエディターに残っており、次の保存で書き直されます</translation>
    </message>
    <message>
        <source>%1; the editor keeps its picture and leaves the file alone</source>
        <translation>%1（画像はエディターに残し、ファイルには手を付けません）</translation>
    </message>
    <message>
        <source>%1 changed on disk; open the project again to see the change</source>
        <translation>%1 がディスク上で変更されました。変更を見るにはプロジェクトを開き直してください</translation>
    </message>
    <message>
        <source>Files that can no longer be read</source>
        <translation>読み込めなくなったファイル</translation>
    </message>
    <message>
        <source>%1 can no longer be read: the editor keeps its picture</source>
        <translation>%1 を読み込めなくなりました。画像はエディターに残っています</translation>
    </message>
    <message>
        <source>Picture changed on disk</source>
        <translation>ディスク上で画像が変更されました</translation>
    </message>
    <message>
        <source>%1 was changed by another program, and its picture was also changed in the editor. Which picture should the record keep?</source>
        <translation>%1 が別のプログラムで変更されましたが、エディターでもこの画像を変更しています。レコードにはどちらの画像を残しますか？</translation>
    </message>
    <message>
        <source>Take the File&apos;s Picture</source>
        <translation>ファイルの画像を使う</translation>
    </message>
    <message>
        <source>Keep the Editor&apos;s Picture</source>
        <translation>エディターの画像を残す</translation>
    </message>
    <message>
        <source>Files changed on disk</source>
        <translation>ディスク上で変更されたファイル</translation>
    </message>
    <message>
        <source>Another program changed these files since the editor read or wrote them:
%1
Replace them with the editor&apos;s version?</source>
        <translation>エディターが読み書きした後に、次のファイルが別のプログラムで変更されました:
%1
エディターの内容で置き換えますか？</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>%1 に保存しました</translation>
    </message>
    <message>
        <source>Not saved</source>
        <translation>保存しませんでした</translation>
    </message>
    <message>
        <source>Save failed</source>
        <translation>保存に失敗しました</translation>
    </message>
    <message>
        <source>%1: the project cannot be saved as it stands</source>
        <translation>%1: このままではプロジェクトを保存できません</translation>
    </message>
    <message>
        <source>Opened with problems: %1</source>
        <translation>問題がありましたが開きました: %1</translation>
    </message>
    <message>
        <source>Saving the project…</source>
        <translation>プロジェクトを保存しています…</translation>
    </message>
    <message>
        <source> (the old %1 was kept as %2)</source>
        <translation>（以前の %1 は %2 として残しました）</translation>
    </message>
    <message>
        <source>Problems of the last save</source>
        <translation>前回の保存での問題</translation>
    </message>
    <message>
        <source>Nothing was saved.</source>
        <translation>何も保存しませんでした。</translation>
    </message>
    <message>
        <source>Some files could not be saved.</source>
        <translation>保存できなかったファイルがあります。</translation>
    </message>
    <message>
        <source>Replace data.txt?</source>
        <translation>data.txt を置き換えますか？</translation>
    </message>
    <message>
        <source>%1 holds text but no record the editor can read. Replace it with the project&apos;s records? Its old text is kept beside it as %1.bak.</source>
        <translation>%1 にはエディターが読み込めるレコードがありません。プロジェクトのレコードで置き換えますか？ 元の内容は同じ場所に %1.bak として残します。</translation>
    </message>
    <message>
        <source>Unsaved changes</source>
        <translation>未保存の変更</translation>
    </message>
    <message>
        <source>Save the changes to the project before closing?</source>
        <translation>閉じる前にプロジェクトへの変更を保存しますか？</translation>
    </message>
</context>
<context>
    <name>charstack::MirrorTableModel</name>
    <message>
        <source>name</source>
        <comment>column title</comment>
        <translation>名前</translation>
    </message>
    <message>
        <source>value</source>
        <comment>column title: the draw depth</comment>
        <translation>深さ</translation>
    </message>
    <message>
        <source>visible</source>
        <comment>column title</comment>
        <translation>表示</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Composes game characters out of stacked images.</source>
        <translation>重ねた画像からゲームのキャラクターを組み立てます。</translation>
    </message>
    <message>
        <source>The project folder to open (by default the folder that holds the program).</source>
        <translation>開くプロジェクトのフォルダー（省略時はプログラムのあるフォルダー）。</translation>
    </message>
</context>
</TS>
