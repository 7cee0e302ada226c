<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>FormatQualityDialog</name>
    <message>
        <source>形式ごとの画質</source>
        <translation>Quality per format</translation>
    </message>
    <message>
        <source>チェックした形式は、オプションパネルの画質の代わりにこの値 (1〜10) で書き出します。</source>
        <translation>A ticked format is written at this quality (1 to 10) instead of the option bar&apos;s.</translation>
    </message>
    <message>
        <source>%1 の画質を個別に指定します</source>
        <translation>Give %1 a quality of its own</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Velmora</source>
        <translation>Velmora</translation>
    </message>
    <message>
        <source>bmp</source>
        <translation>bmp</translation>
    </message>
    <message>
        <source>jpg</source>
        <translation>jpg</translation>
    </message>
    <message>
        <source>png</source>
        <translation>png</translation>
    </message>
    <message>
        <source>mag</source>
        <translation>mag</translation>
    </message>
    <message>
        <source>gif</source>
        <translation>gif</translation>
    </message>
    <message>
        <source>ico</source>
        <translation>ico</translation>
    </message>
    <message>
        <source>pdf</source>
        <translation>pdf</translation>
    </message>
    <message>
        <source>tif</source>
        <translation>tif</translation>
    </message>
    <message>
        <source>ﾌﾙｶﾗｰ</source>
        <translation>Full col.</translation>
    </message>
    <message>
        <source>256色</source>
        <translation>256 col.</translation>
    </message>
    <message>
        <source>白黒</source>
        <translation>B/W</translation>
    </message>
    <message>
        <source>透過</source>
        <translation>Trans.</translation>
    </message>
    <message>
        <source>pdf一括</source>
        <translation>One PDF</translation>
    </message>
    <message>
        <source>gifｱﾆﾒ</source>
        <translation>Anim.</translation>
    </message>
    <message>
        <source>30</source>
        <translation>30</translation>
    </message>
    <message>
        <source>ﾀｲﾐﾝｸﾞ</source>
        <translation>Delay</translation>
    </message>
    <message>
        <source>高</source>
        <translation>High</translation>
    </message>
    <message>
        <source>美</source>
        <translation>Fine</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>10</source>
        <translation>10</translation>
    </message>
    <message>
        <source>16</source>
        <translation>16</translation>
    </message>
    <message>
        <source>32</source>
        <translation>32</translation>
    </message>
    <message>
        <source>64</source>
        <translation>64</translation>
    </message>
    <message>
        <source>128</source>
        <translation>128</translation>
    </message>
    <message>
        <source>256</source>
        <translation>256</translation>
    </message>
    <message>
        <source>icoｻｲｽﾞ</source>
        <translation>Icon</translation>
    </message>
    <message>
        <source>1/1</source>
        <translation>1/1</translation>
    </message>
    <message>
        <source>1/2</source>
        <translation>1/2</translation>
    </message>
    <message>
        <source>1/3</source>
        <translation>1/3</translation>
    </message>
    <message>
        <source>1/5</source>
        <translation>1/5</translation>
    </message>
    <message>
        <source>2/3</source>
        <translation>2/3</translation>
    </message>
    <message>
        <source>3/4</source>
        <translation>3/4</translation>
    </message>
    <message>
        <source>2×</source>
        <translation>2×</translation>
    </message>
    <message>
        <source>3×</source>
        <translation>3×</translation>
    </message>
    <message>
        <source>画像ｻｲｽﾞ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>ここにファイルをドロップしてね。</source>
        <translation>Drop files here.</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>ｸﾘｯﾌﾟﾎﾞｰﾄﾞ(&amp;C)</source>
        <translation>&amp;Clipboard</translation>
    </message>
    <message>
        <source>ｵﾌﾟｼｮﾝ(&amp;O)</source>
        <translation>&amp;Options</translation>
    </message>
    <message>
        <source>ﾍﾙﾌﾟ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>開く(&amp;O)...</source>
        <translation>&amp;Open...</translation>
    </message>
    <message>
        <source>変換結果表示(&amp;C)</source>
        <translation>Show &amp;conversion results</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>ｸﾘｯﾌﾟﾎﾞｰﾄﾞからﾌｧｲﾙ作成(&amp;C)</source>
        <translation>&amp;Create a file from the clipboard</translation>
    </message>
    <message>
        <source>設定画面(&amp;S)...</source>
        <translation>&amp;Settings...</translation>
    </message>
    <message>
        <source>ｴﾌｪｸﾄﾊﾟﾈﾙを表示(&amp;P)</source>
        <translation>Show the effect &amp;panel</translation>
    </message>
    <message>
        <source>ｵﾌﾟｼｮﾝﾊﾟﾈﾙを表示(&amp;O)</source>
        <translation>Show the &amp;option panel</translation>
    </message>
    <message>
        <source>目次(&amp;I)</source>
        <translation>&amp;Contents</translation>
    </message>
    <message>
        <source>バージョン情報(&amp;A)...</source>
        <translation>&amp;About...</translation>
    </message>
    <message>
        <source>エフェクトパネルを表示(&amp;P)</source>
        <translation>Show the effect &amp;panel</translation>
    </message>
    <message>
        <source>オプションパネルを表示(&amp;O)</source>
        <translation>Show the &amp;option panel</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>変換を中止します (Esc)</source>
        <translation>Stops the conversion (Esc)</translation>
    </message>
    <message>
        <source>対応可能なファイル</source>
        <translation>Supported files</translation>
    </message>
    <message>
        <source>Velmoraのバージョン情報</source>
        <translation>About Velmora</translation>
    </message>
    <message>
        <source>画像を一括して変換します。
bmp, jpg, png, mag, gif, ico, pdf, tif</source>
        <translation>Converts pictures in batches.
bmp, jpg, png, mag, gif, ico, pdf, tif</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>右クリックをすると詳細設定用バーが表示されます。
<byte value="xd"/>場合に応じてお使いください。</source>
        <translation>Right-click to show the bars with more settings.
<byte value="xd"/>Use them as you need.</translation>
    </message>
    <message>
        <source>すべてのファイル</source>
        <translation>All files</translation>
    </message>
    <message>
        <source>BMP (Windows ビットマップ) で書き出します</source>
        <translation>Writes BMP (Windows bitmap)</translation>
    </message>
    <message>
        <source>JPEG で書き出します</source>
        <translation>Writes JPEG</translation>
    </message>
    <message>
        <source>PNG で書き出します</source>
        <translation>Writes PNG</translation>
    </message>
    <message>
        <source>MAG (まきちゃんグラフィック) で書き出します</source>
        <translation>Writes MAG (MAki chan Graphic)</translation>
    </message>
    <message>
        <source>GIF で書き出します</source>
        <translation>Writes GIF</translation>
    </message>
    <message>
        <source>アイコン (ICO) で書き出します</source>
        <translation>Writes an icon (ICO)</translation>
    </message>
    <message>
        <source>PDF で書き出します</source>
        <translation>Writes PDF</translation>
    </message>
    <message>
        <source>TIFF で書き出します</source>
        <translation>Writes TIFF</translation>
    </message>
    <message>
        <source>書き出す画像の色数</source>
        <translation>The colours of the written pictures</translation>
    </message>
    <message>
        <source>ドロップしたすべての画像を 1 つの PDF にまとめます</source>
        <translation>Puts every dropped picture into one PDF</translation>
    </message>
    <message>
        <source>ドロップしたすべての画像を 1 つのアニメーション GIF にまとめます</source>
        <translation>Puts every dropped picture into one animated GIF</translation>
    </message>
    <message>
        <source>アニメーション GIF のコマの表示時間 (1/100 秒)</source>
        <translation>How long each frame of the animated GIF shows (1/100 s)</translation>
    </message>
    <message>
        <source>アイコンの大きさ (ピクセル)</source>
        <translation>Icon size (pixels)</translation>
    </message>
    <message>
        <source>書き出す画像の大きさ</source>
        <translation>The size of the written pictures</translation>
    </message>
    <message>
        <source>ここに画像ファイルやフォルダをドロップすると変換します</source>
        <translation>Drop picture files or folders here to convert them</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>F1</source>
        <translation>F1</translation>
    </message>
    <message>
        <source>変換結果表示</source>
        <translation>Show results</translation>
    </message>
    <message>
        <source>%1 件</source>
        <translation>%1 files</translation>
    </message>
    <message>
        <source>ヘルプを開けませんでした。HTML を表示するブラウザーが見つかりません:
%1</source>
        <translation>The help could not be opened: no browser for HTML was found:
%1</translation>
    </message>
    <message>
        <source>変換できなかったファイル: %1 件</source>
        <translation>Files that could not be converted: %1</translation>
    </message>
    <message>
        <source>このバッチでは以降表示しない</source>
        <translation>Don&apos;t show again for this batch</translation>
    </message>
    <message>
        <source>残り約 %1 分 %2 秒</source>
        <translation>about %1 min %2 s left</translation>
    </message>
    <message>
        <source>残り約 %1 秒</source>
        <translation>about %1 s left</translation>
    </message>
    <message>
        <source>左上の画素の色 (または選んだ色) を透明にします (png、gif、ico、webp、avif、jxl)</source>
        <translation>Makes the top-left pixel&apos;s colour (or the picked one) transparent (png, gif, ico, webp, avif, jxl)</translation>
    </message>
    <message>
        <source>JPEG・WebP・AVIF・JPEG XL の画質と PNG の圧縮: 左ほど小さく、右ほど美しく</source>
        <translation>JPEG, WebP, AVIF and JPEG XL quality and PNG compression: smaller to the left, finer to the right</translation>
    </message>
    <message>
        <source>JPEG・WebP・AVIF・JPEG XL の画質と PNG の圧縮 (1〜10)</source>
        <translation>JPEG, WebP, AVIF and JPEG XL quality and PNG compression (1 to 10)</translation>
    </message>
    <message>
        <source>追加形式</source>
        <translation>Extra formats</translation>
    </message>
    <message>
        <source>WebP で書き出します</source>
        <translation>Writes WebP</translation>
    </message>
    <message>
        <source>webp</source>
        <translation>webp</translation>
    </message>
    <message>
        <source>AVIF (AV1 画像) で書き出します</source>
        <translation>Writes AVIF (AV1 images)</translation>
    </message>
    <message>
        <source>avif</source>
        <translation>avif</translation>
    </message>
    <message>
        <source>JPEG XL で書き出します</source>
        <translation>Writes JPEG XL</translation>
    </message>
    <message>
        <source>jxl</source>
        <translation>jxl</translation>
    </message>
    <message>
        <source>WebP と JPEG XL を可逆圧縮で書き出します (AVIF は非可逆のまま)</source>
        <translation>Writes WebP and JPEG XL losslessly (AVIF stays lossy)</translation>
    </message>
    <message>
        <source>可逆</source>
        <translation>Lossless</translation>
    </message>
    <message>
        <source>追加形式ﾊﾟﾈﾙを表示(&amp;X)</source>
        <translation>Show the e&amp;xtra formats panel</translation>
    </message>
    <message>
        <source>追加形式パネルを表示(&amp;X)</source>
        <translation>Show the e&amp;xtra formats panel</translation>
    </message>
    <message>
        <source>指定…</source>
        <translation>Custom…</translation>
    </message>
    <message>
        <source>長辺 %1</source>
        <translation>long edge %1</translation>
    </message>
    <message>
        <source>書き出す前に画像を時計回りに回転します (向きの情報を反映したあと、大きさを変える前)</source>
        <translation>Turns the picture clockwise before it is written (after its own orientation, before sizing)</translation>
    </message>
    <message>
        <source>右 90°</source>
        <translation>90° right</translation>
    </message>
    <message>
        <source>180°</source>
        <translation>180°</translation>
    </message>
    <message>
        <source>左 90°</source>
        <translation>90° left</translation>
    </message>
    <message>
        <source>回転のあとに画像を反転します</source>
        <translation>Mirrors the picture after turning it</translation>
    </message>
    <message>
        <source>左右反転</source>
        <translation>Flip left-right</translation>
    </message>
    <message>
        <source>上下反転</source>
        <translation>Flip top-bottom</translation>
    </message>
    <message>
        <source>形式ごとの画質(&amp;Q)...</source>
        <translation>&amp;Quality per format...</translation>
    </message>
    <message>
        <source>プリセット(&amp;R)</source>
        <translation>P&amp;resets</translation>
    </message>
    <message>
        <source>今の設定をプリセットとして保存(&amp;S)...</source>
        <translation>&amp;Save the current settings as a preset...</translation>
    </message>
    <message>
        <source>プリセットの保存</source>
        <translation>Save a preset</translation>
    </message>
    <message>
        <source>プリセットの名前:</source>
        <translation>Name of the preset:</translation>
    </message>
    <message>
        <source>プリセット「%1」を読み込みました</source>
        <translation>Preset &quot;%1&quot; loaded</translation>
    </message>
    <message>
        <source>プリセット「%1」を保存しました</source>
        <translation>Preset &quot;%1&quot; saved</translation>
    </message>
    <message>
        <source>回転</source>
        <translation>Turn</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>反転</source>
        <translation>Flip</translation>
    </message>
    <message>
        <source>中止しています…</source>
        <translation>Stopping…</translation>
    </message>
    <message>
        <source>Ctrl+Shift+O</source>
        <translation>Ctrl+Shift+O</translation>
    </message>
    <message>
        <source>フォルダを開く(&amp;D)...</source>
        <translation>Open &amp;Folder...</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>指定: %1</source>
        <translation>Custom: %1</translation>
    </message>
    <message>
        <source>保存先: プログラムのフォルダ</source>
        <translation>Saving to: the program&apos;s folder</translation>
    </message>
    <message>
        <source>保存先: %1</source>
        <translation>Saving to: %1</translation>
    </message>
    <message>
        <source>保存先: 元ファイルと同じフォルダ</source>
        <translation>Saving to: beside each source</translation>
    </message>
    <message>
        <source>%1 で書き出します</source>
        <translation>Writes %1</translation>
    </message>
</context>
<context>
    <name>OrderDialog</name>
    <message>
        <source>pdf一括出力時出力順設定</source>
        <translation>Order of the combined PDF&apos;s pages</translation>
    </message>
    <message>
        <source>上に移動</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下に移動</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>ファイルを指定して出力</source>
        <translation>Output to the file</translation>
    </message>
    <message>
        <source>multi</source>
        <translation>multi</translation>
    </message>
    <message>
        <source>並び替え終了</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>見出しをクリックすると並べ替えます</source>
        <translation>Click a heading to sort by it</translation>
    </message>
    <message>
        <source>選んだファイルを 1 つ前に移動します</source>
        <translation>Moves the chosen file one place up</translation>
    </message>
    <message>
        <source>選んだファイルを 1 つ後に移動します</source>
        <translation>Moves the chosen file one place down</translation>
    </message>
    <message>
        <source>選んだファイルを一覧から外します</source>
        <translation>Takes the chosen file out of the list</translation>
    </message>
    <message>
        <source>まとめた出力のファイル名を指定します</source>
        <translation>Gives the combined output a name of your choice</translation>
    </message>
    <message>
        <source>まとめた出力のファイル名 (拡張子なし)</source>
        <translation>The combined output&apos;s name (without extension)</translation>
    </message>
    <message>
        <source>この順番で変換します</source>
        <translation>Converts in this order</translation>
    </message>
</context>
<context>
    <name>PickerWindow</name>
    <message>
        <source>透過色指定</source>
        <translation>Transparent colour</translation>
    </message>
    <message>
        <source>X:</source>
        <translation>X:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Y:</source>
        <translation>Y:</translation>
    </message>
    <message>
        <source>透過色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>透明にする色の画素をクリックします</source>
        <translation>Click a pixel of the colour that becomes transparent</translation>
    </message>
    <message>
        <source>選んだ色</source>
        <translation>The picked colour</translation>
    </message>
    <message>
        <source>この色で変換します</source>
        <translation>Converts with this colour</translation>
    </message>
</context>
<context>
    <name>ResultsWindow</name>
    <message>
        <source>変換結果</source>
        <translation>Conversion results</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>最後の変換で書き出したファイルと、変換できなかったファイル</source>
        <translation>The files the last conversion wrote, and those it could not convert</translation>
    </message>
    <message>
        <source>閉じます</source>
        <translation>Closes this window</translation>
    </message>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Open Folder</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>変換後ファイル保存先</source>
        <translation>Where converted files are saved</translation>
    </message>
    <message>
        <source>変換元ファイルと同じ場所</source>
        <translation>Beside the source file</translation>
    </message>
    <message>
        <source>アプリケーションと同じ場所</source>
        <translation>In the program&apos;s folder</translation>
    </message>
    <message>
        <source>保存先フォルダ指定</source>
        <translation>In this folder</translation>
    </message>
    <message>
        <source>フォルダ選択</source>
        <translation>Choose...</translation>
    </message>
    <message>
        <source>動作設定</source>
        <translation>Behaviour</translation>
    </message>
    <message>
        <source>ダイアログを表示しない</source>
        <translation>Do not show dialogs</translation>
    </message>
    <message>
        <source>常に最前面に表示する</source>
        <translation>Always on top</translation>
    </message>
    <message>
        <source>[送る]に登録する</source>
        <translation>Add to &quot;Send To&quot;</translation>
    </message>
    <message>
        <source>クリップボードを監視する</source>
        <translation>Watch the clipboard</translation>
    </message>
    <message>
        <source>元ファイルを削除する（ゴミ箱へ）</source>
        <translation>Delete the source files (to the trash)</translation>
    </message>
    <message>
        <source>変換ファイル設定</source>
        <translation>Output files</translation>
    </message>
    <message>
        <source>ファイル重複は上書きする</source>
        <translation>Overwrite existing files</translation>
    </message>
    <message>
        <source>ファイル保存時にファイル名にsをつける</source>
        <translation>Add &quot;s&quot; to the file names</translation>
    </message>
    <message>
        <source>元ファイル日付で作成</source>
        <translation>Keep the source file&apos;s date</translation>
    </message>
    <message>
        <source>画像ごとに透過色指定</source>
        <translation>Pick transparency per file</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>変換元と同じフォルダに書き出します</source>
        <translation>Writes beside the source</translation>
    </message>
    <message>
        <source>プログラムのフォルダに書き出します</source>
        <translation>Writes into the program&apos;s folder</translation>
    </message>
    <message>
        <source>下で指定したフォルダに書き出します</source>
        <translation>Writes into the folder below</translation>
    </message>
    <message>
        <source>書き出し先のフォルダ</source>
        <translation>The folder outputs are written into</translation>
    </message>
    <message>
        <source>書き出し先のフォルダを選びます</source>
        <translation>Chooses the folder outputs are written into</translation>
    </message>
    <message>
        <source>変換後のメッセージや失敗のメッセージを表示しません</source>
        <translation>Shows no message after a conversion or for a failure</translation>
    </message>
    <message>
        <source>メインウインドウを常にほかのウインドウの前に表示します</source>
        <translation>Keeps the main window in front of other windows</translation>
    </message>
    <message>
        <source>ファイルマネージャーの「送る」メニューに Velmora を登録します</source>
        <translation>Adds Velmora to the file manager&apos;s Send To menu</translation>
    </message>
    <message>
        <source>クリップボードに画像がコピーされるたびに変換します</source>
        <translation>Converts every picture copied to the clipboard</translation>
    </message>
    <message>
        <source>すべての出力を書き出せた変換元をゴミ箱へ移動します</source>
        <translation>Moves a source to the trash once all its outputs are written</translation>
    </message>
    <message>
        <source>同じ名前のファイルがあっても確認せずに上書きします</source>
        <translation>Replaces files of the same name without asking</translation>
    </message>
    <message>
        <source>出力ファイル名の末尾に s を付けます (a.jpg → as.png)</source>
        <translation>Adds &quot;s&quot; to output names (a.jpg → as.png)</translation>
    </message>
    <message>
        <source>出力ファイルの日付を変換元の日付にします</source>
        <translation>Gives outputs their source&apos;s date</translation>
    </message>
    <message>
        <source>画像ごとに透明にする色をクリックで選びます</source>
        <translation>Picks the transparent colour of each picture with a click</translation>
    </message>
    <message>
        <source>設定を閉じます</source>
        <translation>Closes the settings</translation>
    </message>
    <message>
        <source>撮影日時・カメラ・著作権などの EXIF と XMP を jpg、png、tif、webp、avif、jxl に引き継ぎます (向きは 1 に、サムネイルは除きます)</source>
        <translation>Copies EXIF and XMP (date taken, camera, copyright) into jpg, png, tif, webp, avif and jxl (orientation set to 1, no thumbnail)</translation>
    </message>
    <message>
        <source>EXIF・XMP を引き継ぐ</source>
        <translation>Keep EXIF and XMP</translation>
    </message>
    <message>
        <source>埋め込まれたカラープロファイルを sRGB に変換せず、jpg、png、tif、webp、avif、jxl、pdf にそのまま付けます</source>
        <translation>Carry an embedded colour profile into jpg, png, tif, webp, avif, jxl and pdf outputs as it is, without converting to sRGB</translation>
    </message>
    <message>
        <source>カラープロファイルをそのまま付ける</source>
        <translation>Keep colour profiles as they are</translation>
    </message>
    <message>
        <source>透明な部分を白で埋めず、png、tif、webp、avif、jxl にアルファチャンネルとして残します</source>
        <translation>Keep transparent areas as an alpha channel in png, tif, webp, avif and jxl outputs instead of filling them with white</translation>
    </message>
    <message>
        <source>アルファチャンネルを残す</source>
        <translation>Keep the alpha channel</translation>
    </message>
    <message>
        <source>名前のパターン</source>
        <translation>Name pattern</translation>
    </message>
    <message>
        <source>出力ファイル名のパターン: {name} 元の名前、{n} 番号 ({n:3} で 001)、{width} {height} 出力の大きさ、{format} 形式、{date} 元ファイルの日付。拡張子は自動で付きます。空なら元の名前</source>
        <translation>Pattern for output names: {name} the source&apos;s name, {n} its number ({n:3} gives 001), {width} {height} the output&apos;s size, {format} the format, {date} the source&apos;s date. The extension is added. Empty: the source&apos;s name</translation>
    </message>
    <message>
        <source>{name}_web</source>
        <translation>{name}_web</translation>
    </message>
    <message>
        <source>例: IMG_0001.jpg → %1</source>
        <translation>Example: IMG_0001.jpg → %1</translation>
    </message>
</context>
<context>
    <name>SizeFitDialog</name>
    <message>
        <source>画像サイズ指定</source>
        <translation>Picture size</translation>
    </message>
    <message>
        <source>幅x高さ (その中に収める)、幅だけ、x高さ、または 50% のような割合。縦横比は保ちます</source>
        <translation>Width x height (fit inside), a width, x height, or a percentage such as 50%. The aspect is kept</translation>
    </message>
    <message>
        <source>使わない</source>
        <translation>not used</translation>
    </message>
    <message>
        <source>長いほうの辺のピクセル数。指定すると上の大きさより優先します</source>
        <translation>Pixels on the longer side; when given, it takes the place of the size above</translation>
    </message>
    <message>
        <source>小さい画像は拡大する</source>
        <translation>Enlarge smaller pictures</translation>
    </message>
    <message>
        <source>指定より小さい画像も指定の大きさまで拡大します</source>
        <translation>Pictures smaller than the size are enlarged to it too</translation>
    </message>
    <message>
        <source>この大きさで変換します</source>
        <translation>Converts at this size</translation>
    </message>
    <message>
        <source>大きさを変えずに閉じます</source>
        <translation>Closes without changing the size</translation>
    </message>
    <message>
        <source>大きさ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>長辺</source>
        <translation>Long edge</translation>
    </message>
    <message>
        <source>大きさは 1920x1080、800、x600、50% のように入力してください</source>
        <translation>Enter the size as 1920x1080, 800, x600 or 50%</translation>
    </message>
    <message>
        <source>枠の内側に収める</source>
        <translation>Inside the box</translation>
    </message>
    <message>
        <source>枠を覆って中央を切り抜く</source>
        <translation>Cover the box, cut at the centre</translation>
    </message>
    <message>
        <source>枠に合わせて引き伸ばす</source>
        <translation>Stretch to the box</translation>
    </message>
    <message>
        <source>幅x高さを指定したときの合わせ方。切り抜くとちょうどその大きさのサムネイルになります</source>
        <translation>How a width x height box is filled. Cutting gives a thumbnail of exactly that size</translation>
    </message>
    <message>
        <source>合わせ方</source>
        <translation>Fit</translation>
    </message>
</context>
</TS>
