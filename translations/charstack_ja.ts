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
    <name>CanvasInput</name>
    <message>
        <source>Layer %1</source>
        <translation>レイヤー %1</translation>
    </message>
    <message>
        <source>Character %1</source>
        <translation>キャラクター %1</translation>
    </message>
</context>
<context>
    <name>Command</name>
    <message>
        <source>Take Picture of Character from Disk</source>
        <translation>キャラクターの画像をディスクから取り込む</translation>
    </message>
    <message>
        <source>Take Picture of Layer from Disk</source>
        <translation>レイヤーの画像をディスクから取り込む</translation>
    </message>
    <message>
        <source>Take Pictures from Disk</source>
        <translation>画像をディスクから取り込む</translation>
    </message>
    <message>
        <source>Take Picture from Disk</source>
        <translation>画像をディスクから取り込む</translation>
    </message>
    <message>
        <source>Insert Character</source>
        <translation>キャラクターを挿入</translation>
    </message>
    <message>
        <source>Insert Layer</source>
        <translation>レイヤーを挿入</translation>
    </message>
    <message>
        <source>Insert Layers</source>
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
    <message>
        <source>Remove Layers</source>
        <translation>レイヤーを削除</translation>
    </message>
    <message>
        <source>Move Character Up</source>
        <translation>キャラクターを上へ移動</translation>
    </message>
    <message>
        <source>Move Character Down</source>
        <translation>キャラクターを下へ移動</translation>
    </message>
    <message>
        <source>Move Layer Up</source>
        <translation>レイヤーを上へ移動</translation>
    </message>
    <message>
        <source>Move Layers Up</source>
        <translation>レイヤーを上へ移動</translation>
    </message>
    <message>
        <source>Move Layer Down</source>
        <translation>レイヤーを下へ移動</translation>
    </message>
    <message>
        <source>Move Layers Down</source>
        <translation>レイヤーを下へ移動</translation>
    </message>
    <message>
        <source>Reorder Characters</source>
        <translation>キャラクターを並べ替え</translation>
    </message>
    <message>
        <source>Reorder Layers</source>
        <translation>レイヤーを並べ替え</translation>
    </message>
    <message>
        <source>Duplicate Character</source>
        <translation>キャラクターを複製</translation>
    </message>
    <message>
        <source>Duplicate Layer</source>
        <translation>レイヤーを複製</translation>
    </message>
    <message>
        <source>Duplicate Layers</source>
        <translation>レイヤーを複製</translation>
    </message>
    <message>
        <source>Cut Character</source>
        <translation>キャラクターを切り取り</translation>
    </message>
    <message>
        <source>Cut Layer</source>
        <translation>レイヤーを切り取り</translation>
    </message>
    <message>
        <source>Cut Layers</source>
        <translation>レイヤーを切り取り</translation>
    </message>
    <message>
        <source>Paste Character</source>
        <translation>キャラクターを貼り付け</translation>
    </message>
    <message>
        <source>Paste Characters</source>
        <translation>キャラクターを貼り付け</translation>
    </message>
    <message>
        <source>Paste Layer</source>
        <translation>レイヤーを貼り付け</translation>
    </message>
    <message>
        <source>Paste Layers</source>
        <translation>レイヤーを貼り付け</translation>
    </message>
    <message>
        <source>Add Character from Picture</source>
        <translation>画像からキャラクターを追加</translation>
    </message>
    <message>
        <source>Add Characters from Pictures</source>
        <translation>画像からキャラクターを追加</translation>
    </message>
    <message>
        <source>Add Layer from Picture</source>
        <translation>画像からレイヤーを追加</translation>
    </message>
    <message>
        <source>Add Layers from Pictures</source>
        <translation>画像からレイヤーを追加</translation>
    </message>
    <message>
        <source>Show Layers</source>
        <translation>レイヤーを表示</translation>
    </message>
    <message>
        <source>Hide Layers</source>
        <translation>レイヤーを非表示</translation>
    </message>
    <message>
        <source>Move Character and Layers</source>
        <translation>キャラクターとレイヤーを移動</translation>
    </message>
    <message>
        <source>Move Layers</source>
        <translation>レイヤーを移動</translation>
    </message>
</context>
<context>
    <name>Edit</name>
    <message>
        <source>a name cannot contain &quot;,&quot;, a line break, &quot;####&quot; or &quot;$$$$&quot;, nor start with a byte-order mark</source>
        <translation>名前には「,」、改行、「####」、「$$$$」を含められず、バイトオーダーマークで始めることもできません</translation>
    </message>
    <message>
        <source>there is no such row</source>
        <translation>その行はありません</translation>
    </message>
    <message>
        <source>a depth is a whole number from 0 to 999</source>
        <translation>深さは 0 から 999 までの整数です</translation>
    </message>
    <message>
        <source>a character has no visible column</source>
        <translation>キャラクターには表示の列がありません</translation>
    </message>
    <message>
        <source>the name is too long for an image file name (at most %1 bytes)</source>
        <translation>名前が画像ファイル名としては長すぎます（最大 %1 バイト）</translation>
    </message>
    <message>
        <source>a name cannot contain &quot;/&quot; or a null character</source>
        <translation>名前には「/」やヌル文字を含められません</translation>
    </message>
    <message>
        <source>a name cannot be empty</source>
        <translation>名前を空にはできません</translation>
    </message>
    <message>
        <source>a position is a whole number from %1 to %2</source>
        <translation>位置は %1 から %2 までの整数です</translation>
    </message>
</context>
<context>
    <name>Load</name>
    <message>
        <source>character %1 &quot;%2&quot;</source>
        <translation>キャラクター %1「%2」</translation>
    </message>
    <message>
        <source>layer %1 &quot;%2&quot; of character %3 &quot;%4&quot;</source>
        <translation>キャラクター %3「%4」のレイヤー %1「%2」</translation>
    </message>
    <message>
        <source>%1: depth %2 is never drawn (only depths from 0 to 999 are)</source>
        <translation>%1: 深さ %2 は描画されません（描画されるのは深さ 0 から 999 までです）</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Replace data.txt?</source>
        <translation>data.txt を置き換えますか？</translation>
    </message>
    <message>
        <source>%1 holds text but no record the editor can read. Replace it with the project&apos;s records? Its old text is kept beside it as %1.bak.</source>
        <translation>%1 にはエディターが読み込めるレコードがありません。プロジェクトのレコードで置き換えますか？ 元の内容は同じ場所に %1.bak として残します。</translation>
    </message>
    <message>
        <source>Files changed on disk</source>
        <translation>ディスク上で変更されたファイル</translation>
    </message>
    <message>
        <source>Another program changed these files, or put them where the editor had read none, since the editor last read or wrote them:
%1
Replace them with the editor&apos;s version?</source>
        <translation>これらのファイルは、エディターが最後に読み書きした後に、別のプログラムによって変更されたか、エディターが読んでいない場所に置かれました:
%1
エディターの内容で置き換えますか？</translation>
    </message>
    <message>
        <source>Project folder moved</source>
        <translation>プロジェクトフォルダーが移動されました</translation>
    </message>
    <message>
        <source>The project folder was moved or renamed to %1 while it was open. Save the project there?</source>
        <translation>開いている間にプロジェクトフォルダーが %1 に移動または名前変更されました。そこに保存しますか？</translation>
    </message>
    <message>
        <source>Unsaved changes</source>
        <translation>未保存の変更</translation>
    </message>
    <message>
        <source>Save the changes to the project before closing it?</source>
        <translation>閉じる前にプロジェクトへの変更を保存しますか？</translation>
    </message>
    <message>
        <source>Project already open</source>
        <translation>プロジェクトは既に開かれています</translation>
    </message>
    <message>
        <source>%1 is open in another window. Open it read-only here, or open it anyway (two windows saving one project can undo each other&apos;s work)?</source>
        <translation>%1 は別のウィンドウで開かれています。ここでは読み取り専用で開きますか、それともそのまま開きますか（二つのウィンドウが同じプロジェクトを保存すると、互いの作業を打ち消すことがあります）？</translation>
    </message>
    <message>
        <source>Open Read-Only</source>
        <translation>読み取り専用で開く</translation>
    </message>
    <message>
        <source>Open Anyway</source>
        <translation>そのまま開く</translation>
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
        <source>Project changed on disk</source>
        <translation>ディスク上のプロジェクトが変更されました</translation>
    </message>
    <message>
        <source>%1 was changed by another program. Open the project again from disk?</source>
        <translation>%1 が別のプログラムによって変更されました。ディスクからプロジェクトを開き直しますか？</translation>
    </message>
    <message>
        <source>Clean Up Unused Images</source>
        <translation>未使用の画像を整理</translation>
    </message>
    <message>
        <source>The project has unsaved changes. Unused images are those no record of the saved project refers to: save now?</source>
        <translation>プロジェクトに未保存の変更があります。未使用の画像とは、保存済みのプロジェクトのどのレコードも参照していない画像のことです。今すぐ保存しますか？</translation>
    </message>
    <message>
        <source>Export Picture</source>
        <translation>画像を書き出す</translation>
    </message>
    <message>
        <source>PNG pictures (*.png)</source>
        <translation>PNG 画像 (*.png)</translation>
    </message>
    <message>
        <source>Export All Characters Into</source>
        <translation>すべてのキャラクターの書き出し先</translation>
    </message>
    <message>
        <source>Paste an image into the focused image well</source>
        <translation>フォーカスのある画像ウェルに画像を貼り付け</translation>
    </message>
    <message>
        <source>Delete, Backspace</source>
        <translation>Delete、Backspace</translation>
    </message>
    <message>
        <source>Empty the focused image well</source>
        <translation>フォーカスのある画像ウェルを空にする</translation>
    </message>
    <message>
        <source>Up, Down</source>
        <translation>↑、↓</translation>
    </message>
    <message>
        <source>Select the row above or below</source>
        <translation>上または下の行を選択</translation>
    </message>
    <message>
        <source>F2, or type</source>
        <translation>F2、または入力</translation>
    </message>
    <message>
        <source>Edit the current cell</source>
        <translation>現在のセルを編集</translation>
    </message>
    <message>
        <source>Arrow keys on the canvas</source>
        <translation>キャンバス上の矢印キー</translation>
    </message>
    <message>
        <source>Drag on the canvas</source>
        <translation>キャンバス上でドラッグ</translation>
    </message>
    <message>
        <source>Keyboard Shortcuts</source>
        <translation>キーボードショートカット</translation>
    </message>
    <message>
        <source>Remove the selected records of the focused table</source>
        <translation>フォーカスのある表で選択したレコードを削除</translation>
    </message>
    <message>
        <source>Shift+Up, Shift+Down, Ctrl+click, Shift+click</source>
        <translation>Shift+↑、Shift+↓、Ctrl+クリック、Shift+クリック</translation>
    </message>
    <message>
        <source>Select several layers</source>
        <translation>複数のレイヤーを選択</translation>
    </message>
    <message>
        <source>Drag rows in a table</source>
        <translation>表の行をドラッグ</translation>
    </message>
    <message>
        <source>Put the records in another place of the list</source>
        <translation>レコードを一覧の別の位置へ移動</translation>
    </message>
    <message>
        <source>Right-click in a table</source>
        <translation>表で右クリック</translation>
    </message>
    <message>
        <source>What can be done with the selected records</source>
        <translation>選択したレコードに対する操作</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>Space</translation>
    </message>
    <message>
        <source>Show or hide the layer whose eye is the current cell</source>
        <translation>現在のセルが目のアイコンのとき、そのレイヤーを表示または非表示</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Links out of the project</source>
        <translation>プロジェクト外へのリンク</translation>
    </message>
    <message>
        <source>These are links that lead out of the project folder:
%1
Save the project through them, writing and removing files outside the project folder?</source>
        <translation>次の項目はプロジェクトフォルダの外を指すリンクです:
%1
これらを通して保存し、プロジェクトフォルダの外のファイルを書き込み・削除しますか?</translation>
    </message>
    <message>
        <source>%1 cannot be locked: %2. Nothing keeps another window from saving it at the same time. Open it read-only, or open it anyway?</source>
        <translation>%1 をロックできません: %2。別のウィンドウが同時に保存するのを防げません。読み取り専用で開きますか、それともこのまま開きますか?</translation>
    </message>
    <message>
        <source>Project cannot be locked</source>
        <translation>プロジェクトをロックできません</translation>
    </message>
    <message>
        <source>The folder %1 does not exist. Create it and export into it?</source>
        <translation>フォルダー %1 はありません。作成してそこに書き出しますか？</translation>
    </message>
    <message>
        <source>Tab</source>
        <translation>Tab</translation>
    </message>
    <message>
        <source>Go from the tables on to the canvas</source>
        <translation>表からキャンバスへ移る</translation>
    </message>
    <message>
        <source>Ctrl+wheel on the canvas</source>
        <translation>キャンバス上で Ctrl+ホイール</translation>
    </message>
    <message>
        <source>Zoom in or out about the pointer</source>
        <translation>ポインターの位置を中心に拡大・縮小</translation>
    </message>
    <message>
        <source>Middle button drag, or Space and drag</source>
        <translation>中ボタンでドラッグ、または Space を押しながらドラッグ</translation>
    </message>
    <message>
        <source>Pan the canvas</source>
        <translation>キャンバスを動かして見る範囲を変える</translation>
    </message>
    <message>
        <source>Wheel on the canvas</source>
        <translation>キャンバス上でホイール</translation>
    </message>
    <message>
        <source>Scroll the canvas</source>
        <translation>キャンバスをスクロール</translation>
    </message>
    <message>
        <source>Name the sprite sheet: its files get that name with .png and .json, and a name cannot hold &quot;/&quot;.</source>
        <translation>スプライトシートの名前を入力してください。ファイル名はその名前に .png と .json を付けたものになります。名前に &quot;/&quot; は使えません。</translation>
    </message>
    <message>
        <source>Pictures</source>
        <translation>画像</translation>
    </message>
    <message>
        <source> x</source>
        <comment>scale</comment>
        <translation> 倍</translation>
    </message>
    <message>
        <source>Scale (each pixel a block):</source>
        <translation>倍率 (各ピクセルをブロックに拡大):</translation>
    </message>
    <message>
        <source>Trim transparent borders</source>
        <translation>透明な余白を切り取る</translation>
    </message>
    <message>
        <source>Record numbers in file names</source>
        <translation>ファイル名にレコード番号を付ける</translation>
    </message>
    <message>
        <source>One sprite sheet (PNG and JSON), named:</source>
        <translation>1 枚のスプライトシート (PNG と JSON) にまとめる。名前:</translation>
    </message>
    <message>
        <source>Move the character or the selected layers by one unit (ten with Shift)</source>
        <translation>キャラクターまたは選択したレイヤーを1単位移動（Shiftで10単位）</translation>
    </message>
    <message>
        <source>Click on the canvas</source>
        <translation>キャンバス上でクリック</translation>
    </message>
    <message>
        <source>Select the topmost picture under the pointer</source>
        <translation>ポインターの下でいちばん上の画像を選択</translation>
    </message>
    <message>
        <source>Move the picture under the pointer with the other selected layers (over no picture: what is selected)</source>
        <translation>ポインターの下の画像を、選択中のほかのレイヤーと一緒に移動（画像のない所では選択中のものを移動）</translation>
    </message>
    <message>
        <source>Shift+drag on the canvas</source>
        <translation>キャンバス上でShift+ドラッグ</translation>
    </message>
    <message>
        <source>Move along one axis only</source>
        <translation>一方の軸に沿ってだけ移動</translation>
    </message>
    <message>
        <source>Ctrl+drag on the canvas</source>
        <translation>キャンバス上でCtrl+ドラッグ</translation>
    </message>
    <message>
        <source>Move the character with all its layers</source>
        <translation>キャラクターをすべてのレイヤーと一緒に移動</translation>
    </message>
    <message>
        <source>Right-click on the canvas</source>
        <translation>キャンバス上で右クリック</translation>
    </message>
    <message>
        <source>Choose one of the records under the pointer</source>
        <translation>ポインターの下にあるレコードから1つを選択</translation>
    </message>
    <message>
        <source>Add Layers from Files</source>
        <translation>ファイルからレイヤーを追加</translation>
    </message>
    <message>
        <source>Add Characters from Files</source>
        <translation>ファイルからキャラクターを追加</translation>
    </message>
    <message>
        <source>Pictures (*.png *.jpg *.jpeg *.bmp *.gif *.webp *.tif *.tiff *.tga);;All files (*)</source>
        <translation>画像 (*.png *.jpg *.jpeg *.bmp *.gif *.webp *.tif *.tiff *.tga);;すべてのファイル (*)</translation>
    </message>
    <message numerus="yes">
        <source>The editor stopped before the last changes to this project were saved. Its unsaved work (%n step(s) of the history, kept at %1) can be restored, with its undo history. Restored changes stay unsaved until you save them.</source>
        <translation>
            <numerusform>前回の変更を保存する前にエディターが終了しました。未保存の作業（履歴 %n ステップ、%1 に保持）を元に戻す履歴ごと復元できます。復元した変更は保存するまで未保存のままです。</numerusform>
        </translation>
    </message>
    <message>
        <source>The editor stopped before the last changes to this project were saved, and its unsaved work was kept at %1, but it cannot be restored: %2. Keep it aside in %3, or discard it?</source>
        <translation>前回の変更を保存する前にエディターが終了し、未保存の作業は %1 に保持されましたが、復元できません: %2。%3 に取っておきますか、それとも破棄しますか？</translation>
    </message>
    <message>
        <source>Recover unsaved work</source>
        <translation>未保存の作業の復元</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>復元</translation>
    </message>
    <message>
        <source>Keep Aside</source>
        <translation>取っておく</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>破棄</translation>
    </message>
    <message>
        <source>Alt+arrow keys on the canvas</source>
        <translation>キャンバス上でAlt+矢印キー</translation>
    </message>
    <message>
        <source>Move the character with all its layers by one unit (ten with Shift)</source>
        <translation>キャラクターをすべてのレイヤーと一緒に1単位移動（Shiftで10単位）</translation>
    </message>
</context>
<context>
    <name>Record</name>
    <message>
        <source>New Character</source>
        <translation>新キャラ</translation>
    </message>
    <message>
        <source>New Layer</source>
        <translation>新規レイヤー</translation>
    </message>
</context>
<context>
    <name>Recovery</name>
    <message>
        <source>The unsaved work could not be kept for recovery: %1</source>
        <translation>未保存の作業を復元用に保持できませんでした: %1</translation>
    </message>
    <message>
        <source>a picture of the recovered work is missing or damaged (%1)</source>
        <translation>復元用の作業の画像がないか壊れています (%1)</translation>
    </message>
    <message>
        <source>img/%1 changed since the work was recovered</source>
        <translation>作業を保持した後に img/%1 が変更されました</translation>
    </message>
    <message>
        <source>the recovered work is damaged or cut short</source>
        <translation>復元用の作業が壊れているか途中で切れています</translation>
    </message>
    <message>
        <source>the recovered work cannot be read: %1</source>
        <translation>復元用の作業を読み込めません: %1</translation>
    </message>
    <message>
        <source>data.txt changed since the work was recovered</source>
        <translation>作業を保持した後に data.txt が変更されました</translation>
    </message>
</context>
<context>
    <name>Session</name>
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
        <source>Problems found when opening the project</source>
        <translation>プロジェクトを開いたときに見つかった問題</translation>
    </message>
    <message>
        <source>The last save was interrupted; it has been completed</source>
        <translation>前回の保存は中断されていましたが、完了させました</translation>
    </message>
    <message>
        <source> (%1 is now the picture of the record with its name)</source>
        <translation>（%1 はその名前のレコードの画像になりました）</translation>
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
        <source>Open Project</source>
        <translation>プロジェクトを開く</translation>
    </message>
    <message>
        <source>%1 is not a folder.</source>
        <translation>%1 はフォルダーではありません。</translation>
    </message>
    <message>
        <source>Export Picture</source>
        <translation>画像を書き出す</translation>
    </message>
    <message>
        <source>Select a character to export its picture.</source>
        <translation>画像を書き出すキャラクターを選んでください。</translation>
    </message>
    <message>
        <source>Pictures are not exported into the project folder or its img/ folder: choose another folder.</source>
        <translation>プロジェクトフォルダーやその img/ フォルダーには書き出せません。別のフォルダーを選んでください。</translation>
    </message>
    <message>
        <source>The character has nothing to draw: no picture was written.</source>
        <translation>このキャラクターには描くものがないため、画像は書き出されませんでした。</translation>
    </message>
    <message>
        <source>The picture %1.</source>
        <translation>画像 %1。</translation>
    </message>
    <message>
        <source>%1 could not be written: %2</source>
        <translation>%1 を書き込めませんでした: %2</translation>
    </message>
    <message>
        <source>Exported %1</source>
        <translation>%1 を書き出しました</translation>
    </message>
    <message>
        <source>Export All Characters</source>
        <translation>すべてのキャラクターを書き出す</translation>
    </message>
    <message>
        <source>%1 could not be created: %2</source>
        <translation>%1 を作成できませんでした: %2</translation>
    </message>
    <message numerus="yes">
        <source>%n picture(s) written to %1.</source>
        <translation>
            <numerusform>%n 枚の画像を %1 に書き出しました。</numerusform>
        </translation>
    </message>
    <message>
        <source>The export was cancelled; the pictures written so far are complete.</source>
        <translation>書き出しは取り消されました。ここまでに書き出された画像は完全です。</translation>
    </message>
    <message>
        <source>Skipped, with nothing to draw:</source>
        <translation>描くものがないためスキップ:</translation>
    </message>
    <message>
        <source>Problems of the last export</source>
        <translation>前回の書き出しの問題</translation>
    </message>
    <message>
        <source>%1 is not an image the editor can read</source>
        <translation>%1 はエディターが読める画像ではありません</translation>
    </message>
    <message numerus="yes">
        <source>Added %n layer(s)</source>
        <translation>
            <numerusform>%n 個のレイヤーを追加しました</numerusform>
        </translation>
    </message>
    <message>
        <source>Clean Up Unused Images</source>
        <translation>未使用の画像を整理</translation>
    </message>
    <message>
        <source>%1 could not be read, so the editor cannot tell which images are in use.</source>
        <translation>%1 を読み込めなかったため、どの画像が使われているか判断できません。</translation>
    </message>
    <message>
        <source>Unused images cannot be told now: %1.</source>
        <translation>今は未使用の画像を判定できません: %1。</translation>
    </message>
    <message>
        <source>img/ could not be listed.</source>
        <translation>img/ の一覧を取得できませんでした。</translation>
    </message>
    <message>
        <source>Every file in img/ belongs to a record: there is nothing to clean up.</source>
        <translation>img/ のファイルはすべていずれかのレコードが使っています。整理するものはありません。</translation>
    </message>
    <message numerus="yes">
        <source>Moved %n unused image(s) to the trash</source>
        <translation>
            <numerusform>未使用の画像 %n 個をゴミ箱へ移動しました</numerusform>
        </translation>
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
        <source>%1 changed on disk; the editor keeps what it shows</source>
        <translation>ディスク上の %1 が変更されました。エディターは表示中の内容を保持します</translation>
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
        <source> (together, in the folder &quot;%1&quot;)</source>
        <translation>（まとめてフォルダー「%1」に入れて）</translation>
    </message>
    <message numerus="yes">
        <source>; %n left as they were after Cancel</source>
        <translation>
            <numerusform>、取り消しにより %n 件はそのままです</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 gives no name a record can hold: it is called %2</source>
        <translation>%1 からはレコード名を作れないため、名前は %2 になります</translation>
    </message>
    <message numerus="yes">
        <source>Added %n character(s)</source>
        <translation>
            <numerusform>%n 個のキャラクターを追加しました</numerusform>
        </translation>
    </message>
    <message>
        <source>Opened read-only: the last save was interrupted and cannot be finished safely</source>
        <translation>読み取り専用で開きました: 前回の保存が中断され、安全に完了できません</translation>
    </message>
    <message>
        <source>Interrupted save</source>
        <translation>中断された保存</translation>
    </message>
    <message>
        <source>The last save of this project was interrupted, and the files it left are not as it left them, so it was not finished. Nothing was removed; the project is open read-only. The Problems panel names each file.</source>
        <translation>このプロジェクトの前回の保存は中断され、残されたファイルがその時の状態ではないため、完了しませんでした。何も削除していません。プロジェクトは読み取り専用で開いています。各ファイルは「問題」パネルに表示されます。</translation>
    </message>
    <message numerus="yes">
        <source>A sprite sheet of %n picture(s) written to %1.</source>
        <translation>
            <numerusform>%n 枚の画像を収めたスプライトシートを %1 に書き出しました。</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 is named %2: an earlier character has its name.</source>
        <translation>%1 は %2 という名前で書き出しました。前のキャラクターが同じ名前を使っています。</translation>
    </message>
    <message>
        <source>Restored the unsaved work of %1: it is not saved yet</source>
        <translation>%1 の未保存の作業を復元しました。まだ保存されていません</translation>
    </message>
    <message>
        <source>The recovered work was discarded</source>
        <translation>復元用の作業を破棄しました</translation>
    </message>
    <message>
        <source>The recovered work was kept aside in %1</source>
        <translation>復元用の作業を %1 に取っておきました</translation>
    </message>
    <message>
        <source>Recovered work</source>
        <translation>復元用の作業</translation>
    </message>
    <message>
        <source>The recovered work in %1 could not be moved aside; it will be offered again at the next open.</source>
        <translation>%1 にある復元用の作業を移動できませんでした。次に開くときにもう一度表示します。</translation>
    </message>
</context>
<context>
    <name>charstack</name>
    <message>
        <source>Composes game characters out of stacked images.</source>
        <translation>画像を重ねてゲームキャラクターを組み立てます。</translation>
    </message>
    <message>
        <source>Writes one PNG picture per character into &lt;folder&gt; without opening a window, and exits: 0 when every picture was written, 1 when the project cannot be read or a file cannot be written, 2 for wrong usage.</source>
        <translation>ウィンドウを開かずにキャラクターごとに 1 枚の PNG 画像を &lt;folder&gt; に書き出して終了します。すべて書き出せたときは 0、プロジェクトを読めないかファイルを書けないときは 1、使い方が誤っているときは 2 を返します。</translation>
    </message>
    <message>
        <source>folder</source>
        <translation>フォルダー</translation>
    </message>
    <message>
        <source>The project folder (holding data.txt and img/) to open.</source>
        <translation>開くプロジェクトフォルダー（data.txt と img/ を含むもの）。</translation>
    </message>
    <message>
        <source>Only one project folder can be named.</source>
        <translation>指定できるプロジェクトフォルダーは 1 つだけです。</translation>
    </message>
    <message>
        <source>The project folder is empty.</source>
        <translation>プロジェクトフォルダーの指定が空です。</translation>
    </message>
    <message>
        <source>--export needs a folder.</source>
        <translation>--export には書き出し先のフォルダーが必要です。</translation>
    </message>
    <message>
        <source>no project folder: name one</source>
        <translation>プロジェクトフォルダーがありません。指定してください</translation>
    </message>
    <message>
        <source>the pictures cannot go into the project folder or its img/ folder: name another folder</source>
        <translation>プロジェクトフォルダーやその img/ フォルダーには書き出せません。別のフォルダーを指定してください</translation>
    </message>
    <message>
        <source>%1 holds no %2: it is not a project</source>
        <translation>%1 には %2 がありません。プロジェクトではありません</translation>
    </message>
    <message>
        <source>%1 could not be read</source>
        <translation>%1 を読み込めませんでした</translation>
    </message>
    <message>
        <source>%1 could not be created: %2</source>
        <translation>%1 を作成できませんでした: %2</translation>
    </message>
    <message>
        <source>%1: %2 has nothing to draw; skipped</source>
        <translation>%1: %2 には描くものがないため、スキップしました</translation>
    </message>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>%1 を読み込めません: %2</translation>
    </message>
    <message>
        <source>waiting for another export into %1 to finish</source>
        <translation>%1 への別の書き出しが終わるのを待っています</translation>
    </message>
    <message>
        <source>removed %1 temporary file(s) that an earlier export stopped mid-way left in %2</source>
        <translation>途中で止まった以前の書き出しが %2 に残した一時ファイルを %1 個削除しました</translation>
    </message>
    <message>
        <source>%1: the last save was interrupted; it has been completed</source>
        <translation>%1: 前回の保存は中断されていましたが、完了させました</translation>
    </message>
    <message>
        <source>Makes each pixel a block of &lt;n&gt; x &lt;n&gt; pixels in the exported pictures (1 to 8; 1 when not given).</source>
        <translation>書き出す画像の各ピクセルを &lt;n&gt; x &lt;n&gt; ピクセルのブロックにします (1 ～ 8。指定しないときは 1)。</translation>
    </message>
    <message>
        <source>n</source>
        <translation>n</translation>
    </message>
    <message>
        <source>Crops each exported picture to its pixels that are not fully transparent.</source>
        <translation>書き出す各画像を、完全には透明でないピクセルを囲む範囲に切り詰めます。</translation>
    </message>
    <message>
        <source>Names the exported files after the characters without their record numbers; a name taken twice gets &quot; (2)&quot;, &quot; (3)&quot;…</source>
        <translation>書き出すファイルにレコード番号を付けず、キャラクターの名前だけを付けます。同じ名前が重なったときは &quot; (2)&quot;、&quot; (3)&quot;… を付けます。</translation>
    </message>
    <message>
        <source>Writes one sprite sheet instead of a file per character: &lt;name&gt;.png with every picture and &lt;name&gt;.json telling where each lies.</source>
        <translation>キャラクターごとのファイルの代わりに 1 枚のスプライトシートを書き出します。すべての画像を収めた &lt;name&gt;.png と、各画像の位置を記した &lt;name&gt;.json です。</translation>
    </message>
    <message>
        <source>name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>--scale, --trim, --no-numbers and --sheet go with --export.</source>
        <translation>--scale、--trim、--no-numbers、--sheet は --export と一緒に指定します。</translation>
    </message>
    <message>
        <source>--scale takes a whole number from 1 to 8.</source>
        <translation>--scale には 1 から 8 までの整数を指定します。</translation>
    </message>
    <message>
        <source>--sheet needs a name for the files, without &quot;/&quot;.</source>
        <translation>--sheet にはファイルの名前を指定します (&quot;/&quot; は使えません)。</translation>
    </message>
    <message>
        <source>%1 is named %2: an earlier character has its name</source>
        <translation>%1 は %2 という名前で書き出しました: 前のキャラクターが同じ名前を使っています</translation>
    </message>
</context>
<context>
    <name>charstack::CleanUpDialog</name>
    <message>
        <source>Clean Up Unused Images</source>
        <translation>未使用の画像を整理</translation>
    </message>
    <message>
        <source>No record of the saved project uses these files of img/. Check the ones to move to the trash: they go there together, in one folder, from where you can bring them back.</source>
        <translation>保存済みのプロジェクトのどのレコードも、img/ のこれらのファイルを使っていません。ゴミ箱へ移すものにチェックを付けてください。まとめて一つのフォルダーに入れてゴミ箱へ移すので、ゴミ箱から元に戻せます。</translation>
    </message>
    <message>
        <source>%1
%2 × %3 pixels</source>
        <translation>%1
%2 × %3 ピクセル</translation>
    </message>
    <message>
        <source>%1
cannot be shown: it %2</source>
        <translation>%1
表示できません: %2</translation>
    </message>
    <message>
        <source>Check All</source>
        <translation>すべてチェック</translation>
    </message>
    <message>
        <source>Move to Trash</source>
        <translation>ゴミ箱へ移動</translation>
    </message>
    <message numerus="yes">
        <source>Moving %n file(s) to the trash…</source>
        <translation>
            <numerusform>%n 個のファイルをゴミ箱へ移動しています…</numerusform>
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
        <source>The clipboard holds no image.</source>
        <translation>クリップボードに画像がありません。</translation>
    </message>
    <message>
        <source>Not an image, or one larger than 8192 x 8192 pixels: nothing was changed.</source>
        <translation>画像ではないか、8192 x 8192 ピクセルより大きい画像です。何も変更していません。</translation>
    </message>
</context>
<context>
    <name>charstack::MainWindow</name>
    <message>
        <source>%1[*] — charstack</source>
        <translation>%1[*] — charstack</translation>
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
        <source>Problems of the last save</source>
        <translation>前回の保存での問題</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>表示(&amp;V)</translation>
    </message>
    <message>
        <source>Zoom &amp;In</source>
        <translation>拡大(&amp;I)</translation>
    </message>
    <message>
        <source>Zoom &amp;Out</source>
        <translation>縮小(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Actual Size</source>
        <translation>実際のサイズ(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Fit</source>
        <translation>全体を表示(&amp;F)</translation>
    </message>
    <message>
        <source>Transparency &amp;Checkerboard</source>
        <translation>透明部分を市松模様で表示(&amp;C)</translation>
    </message>
    <message>
        <source>Zoom %1%</source>
        <translation>ズーム %1%</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;New Project…</source>
        <translation>新規プロジェクト(&amp;N)…</translation>
    </message>
    <message>
        <source>&amp;Open Project…</source>
        <translation>プロジェクトを開く(&amp;O)…</translation>
    </message>
    <message>
        <source>Open &amp;Recent</source>
        <translation>最近使ったプロジェクト(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>保存(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Export Picture…</source>
        <translation>画像を書き出す(&amp;E)…</translation>
    </message>
    <message>
        <source>Ctrl+E</source>
        <translation>Ctrl+E</translation>
    </message>
    <message>
        <source>Export &amp;All Characters…</source>
        <translation>すべてのキャラクターを書き出す(&amp;A)…</translation>
    </message>
    <message>
        <source>Ctrl+Shift+E</source>
        <translation>Ctrl+Shift+E</translation>
    </message>
    <message>
        <source>&amp;Clean Up Unused Images…</source>
        <translation>未使用の画像を整理(&amp;C)…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Keyboard Shortcuts</source>
        <translation>キーボードショートカット(&amp;K)</translation>
    </message>
    <message>
        <source>No recent projects</source>
        <translation>最近使ったプロジェクトはありません</translation>
    </message>
    <message>
        <source>Clear Menu</source>
        <translation>メニューをクリア</translation>
    </message>
    <message>
        <source>Export All Characters</source>
        <translation>すべてのキャラクターを書き出す</translation>
    </message>
    <message>
        <source>%1 (read-only)</source>
        <translation>%1（読み取り専用）</translation>
    </message>
    <message>
        <source>Opened read-only: the project is open in another window</source>
        <translation>読み取り専用で開きました: このプロジェクトは別のウィンドウで開かれています</translation>
    </message>
    <message>
        <source>The project is open in another window too: saves there and here can undo each other</source>
        <translation>このプロジェクトは別のウィンドウでも開かれています: 両方で保存すると互いの作業を打ち消すことがあります</translation>
    </message>
    <message>
        <source>Position %1, %2</source>
        <translation>位置 %1, %2</translation>
    </message>
    <message>
        <source>Drag rows to reorder them; drop image files here to add one character per file</source>
        <translation>行をドラッグして並べ替えます。ここに画像ファイルをドロップすると、ファイルごとにキャラクターを追加します</translation>
    </message>
    <message>
        <source>Drag rows to reorder them; drop image files here to add one layer per file</source>
        <translation>行をドラッグして並べ替えます。ここに画像ファイルをドロップすると、ファイルごとにレイヤーを追加します</translation>
    </message>
    <message>
        <source> (pointer at %1, %2)</source>
        <translation>（ポインター %1, %2）</translation>
    </message>
    <message>
        <source>Opened read-only: the project cannot be locked</source>
        <translation>読み取り専用で開きました: プロジェクトをロックできません</translation>
    </message>
    <message>
        <source>The project cannot be locked: nothing keeps another window from saving it too</source>
        <translation>プロジェクトをロックできません: 別のウィンドウも保存できてしまいます</translation>
    </message>
    <message>
        <source>Opened read-only: the last save was interrupted and cannot be finished safely</source>
        <translation>読み取り専用で開きました: 前回の保存が中断され、安全に完了できません</translation>
    </message>
    <message>
        <source>Save &amp;As…</source>
        <translation>名前を付けて保存(&amp;A)…</translation>
    </message>
    <message>
        <source>Add &amp;Layers from Files…</source>
        <translation>ファイルからレイヤーを追加(&amp;L)…</translation>
    </message>
    <message>
        <source>Add C&amp;haracters from Files…</source>
        <translation>ファイルからキャラクターを追加(&amp;H)…</translation>
    </message>
    <message>
        <source>&amp;Close Project</source>
        <translation>プロジェクトを閉じる(&amp;C)</translation>
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
        <source>visible</source>
        <comment>column title</comment>
        <translation>表示</translation>
    </message>
    <message>
        <source>depth</source>
        <comment>column title: the draw depth, 0 to 999</comment>
        <translation>深さ</translation>
    </message>
    <message>
        <source>x</source>
        <comment>column title: the horizontal position</comment>
        <translation>x</translation>
    </message>
    <message>
        <source>y</source>
        <comment>column title: the vertical position</comment>
        <translation>y</translation>
    </message>
    <message>
        <source>Characters go into the characters table.</source>
        <translation>キャラクターはキャラクターの表に入れてください。</translation>
    </message>
    <message>
        <source>Layers go into the layers table.</source>
        <translation>レイヤーはレイヤーの表に入れてください。</translation>
    </message>
    <message>
        <source>Select a character first: the layers need one to belong to.</source>
        <translation>先にキャラクターを選んでください。レイヤーには所属するキャラクターが必要です。</translation>
    </message>
    <message>
        <source>Not an image, or one larger than 8192 x 8192 pixels: nothing was changed.</source>
        <translation>画像ではないか、8192 x 8192 ピクセルより大きい画像です。何も変更していません。</translation>
    </message>
    <message>
        <source>The dropped records are damaged or cut short: nothing was changed.</source>
        <translation>ドロップされたレコードは壊れているか途中で切れています。何も変更していません。</translation>
    </message>
</context>
<context>
    <name>charstack::ProjectFolderDialog</name>
    <message>
        <source>New Project: Choose or Create an Empty Folder</source>
        <translation>新規プロジェクト: 空のフォルダーを選ぶか作成してください</translation>
    </message>
    <message>
        <source>Open Project</source>
        <translation>プロジェクトを開く</translation>
    </message>
    <message>
        <source>%1 is a file, not a folder.</source>
        <translation>%1 はフォルダーではなくファイルです。</translation>
    </message>
    <message>
        <source>%1 does not exist.</source>
        <translation>%1 は存在しません。</translation>
    </message>
    <message>
        <source>%1 is not empty. A new project needs an empty folder: choose another one, or type the name of a new one.</source>
        <translation>%1 は空ではありません。新規プロジェクトには空のフォルダーが必要です。別のフォルダーを選ぶか、新しいフォルダーの名前を入力してください。</translation>
    </message>
    <message>
        <source>%1 could not be created: %2</source>
        <translation>%1 を作成できませんでした: %2</translation>
    </message>
</context>
<context>
    <name>charstack::RecordActions</name>
    <message>
        <source>Insert &amp;Character</source>
        <translation>キャラクターを挿入(&amp;C)</translation>
    </message>
    <message>
        <source>Insert a new character at the selected row</source>
        <translation>選択した行に新しいキャラクターを挿入します</translation>
    </message>
    <message>
        <source>Remove C&amp;haracter</source>
        <translation>キャラクターを削除(&amp;H)</translation>
    </message>
    <message>
        <source>Remove the selected character with its layers (Delete in the table)</source>
        <translation>選択したキャラクターをレイヤーごと削除します（表では Delete キー）</translation>
    </message>
    <message>
        <source>Insert &amp;Layer</source>
        <translation>レイヤーを挿入(&amp;L)</translation>
    </message>
    <message>
        <source>Insert a new layer at the selected row of the selected character</source>
        <translation>選択したキャラクターの選択した行に新しいレイヤーを挿入します</translation>
    </message>
    <message>
        <source>Remove L&amp;ayer</source>
        <translation>レイヤーを削除(&amp;A)</translation>
    </message>
    <message>
        <source>Remove the selected layers (Delete in the table)</source>
        <translation>選択したレイヤーを削除します（表では Delete キー）</translation>
    </message>
    <message>
        <source>&amp;Duplicate</source>
        <translation>複製(&amp;D)</translation>
    </message>
    <message>
        <source>Put a copy of the selected records right after them; the pictures are shared</source>
        <translation>選択したレコードの複製をすぐ後ろに置きます。画像は共有されます</translation>
    </message>
    <message>
        <source>Cu&amp;t</source>
        <translation>切り取り(&amp;T)</translation>
    </message>
    <message>
        <source>Take the selected records out onto the clipboard</source>
        <translation>選択したレコードを切り取ってクリップボードに置きます</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>コピー(&amp;C)</translation>
    </message>
    <message>
        <source>Copy the selected records to the clipboard</source>
        <translation>選択したレコードをクリップボードにコピーします</translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation>貼り付け(&amp;P)</translation>
    </message>
    <message>
        <source>Paste records, or an image as a new record, after the selection</source>
        <translation>レコード、または新しいレコードとして画像を、選択の後ろに貼り付けます</translation>
    </message>
    <message>
        <source>Move &amp;Up</source>
        <translation>上へ移動(&amp;U)</translation>
    </message>
    <message>
        <source>Move the selected records one row up</source>
        <translation>選択したレコードを 1 行上へ移動します</translation>
    </message>
    <message>
        <source>Move Do&amp;wn</source>
        <translation>下へ移動(&amp;W)</translation>
    </message>
    <message>
        <source>Move the selected records one row down</source>
        <translation>選択したレコードを 1 行下へ移動します</translation>
    </message>
    <message>
        <source>&amp;Show Layers</source>
        <translation>レイヤーを表示(&amp;S)</translation>
    </message>
    <message>
        <source>Show the selected layers, or hide them when all are shown</source>
        <translation>選択したレイヤーを表示します。すべて表示されているときは非表示にします</translation>
    </message>
    <message>
        <source>&amp;Hide Layers</source>
        <translation>レイヤーを非表示(&amp;H)</translation>
    </message>
    <message numerus="yes">
        <source>Cut %n record(s) to the clipboard</source>
        <translation>
            <numerusform>%n 件のレコードを切り取ってクリップボードに置きました</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Copied %n record(s) to the clipboard</source>
        <translation>
            <numerusform>%n 件のレコードをクリップボードにコピーしました</numerusform>
        </translation>
    </message>
    <message>
        <source>The clipboard holds no records and no image.</source>
        <translation>クリップボードにはレコードも画像もありません。</translation>
    </message>
    <message>
        <source>Select a character first: the layers need one to belong to.</source>
        <translation>先にキャラクターを選んでください。レイヤーには所属するキャラクターが必要です。</translation>
    </message>
    <message>
        <source>Not an image, or one larger than 8192 x 8192 pixels: nothing was changed.</source>
        <translation>画像ではないか、8192 x 8192 ピクセルより大きい画像です。何も変更していません。</translation>
    </message>
    <message>
        <source>The records on the clipboard are damaged or cut short: nothing was changed.</source>
        <translation>クリップボードのレコードは壊れているか途中で切れています。何も変更していません。</translation>
    </message>
</context>
</TS>
