<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_TW">
<context>
    <name>EngineText</name>
    <message>
        <source>檔名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>副檔名</source>
        <translation>Extension</translation>
    </message>
    <message>
        <source>檔案大小</source>
        <translation>File size</translation>
    </message>
    <message>
        <source>修改日期</source>
        <translation>Date modified</translation>
    </message>
    <message>
        <source>包含</source>
        <translation>contains</translation>
    </message>
    <message>
        <source>等於</source>
        <translation>equals</translation>
    </message>
    <message>
        <source>大於</source>
        <translation>greater than</translation>
    </message>
    <message>
        <source>小於</source>
        <translation>less than</translation>
    </message>
    <message>
        <source>無</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>且</source>
        <translation>and</translation>
    </message>
    <message>
        <source>或</source>
        <translation>or</translation>
    </message>
    <message>
        <source>且否</source>
        <translation>and not</translation>
    </message>
    <message>
        <source>搜尋日期</source>
        <translation>Searched</translation>
    </message>
    <message>
        <source>條件一</source>
        <translation>Condition 1</translation>
    </message>
    <message>
        <source>條件二</source>
        <translation>Condition 2</translation>
    </message>
    <message>
        <source>條件三</source>
        <translation>Condition 3</translation>
    </message>
    <message>
        <source>讀取紀錄時發生錯誤</source>
        <translation>Could not read the history: </translation>
    </message>
    <message>
        <source>寫入紀錄時發生錯誤</source>
        <translation>Could not write the history: </translation>
    </message>
    <message>
        <source>所有快取資料</source>
        <translation>All cached data</translation>
    </message>
    <message>
        <source>工作</source>
        <translation>Working</translation>
    </message>
    <message>
        <source>準備</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>失敗</source>
        <translation>Failed</translation>
    </message>
</context>
<context>
    <name>TransferEngine</name>
    <message>
        <source>之前的工作尚未完成</source>
        <translation>The previous job has not finished yet</translation>
    </message>
    <message>
        <source>Thread%1::通話層連接,錯誤=%2</source>
        <translation>Thread%1::session connected, error=%2</translation>
    </message>
    <message>
        <source>Thread%1::通話層連接</source>
        <translation>Thread%1::session connected</translation>
    </message>
    <message>
        <source>Thread%1:通話層結束,錯誤=%2</source>
        <translation>Thread%1:session closed, error=%2</translation>
    </message>
    <message>
        <source>Thread%1:通話層結束</source>
        <translation>Thread%1:session closed</translation>
    </message>
    <message>
        <source>Thread%1:以%2名稱,嘗試連線%3...</source>
        <translation>Thread%1:connecting to %3 as %2...</translation>
    </message>
    <message>
        <source>結束連線</source>
        <translation>Disconnecting</translation>
    </message>
    <message>
        <source>Thread%1:要求%2完成,狀態碼%3</source>
        <translation>Thread%1:request %2 done, status code %3</translation>
    </message>
    <message>
        <source>Thread%1:上次反應%2</source>
        <translation>Thread%1:last reply %2</translation>
    </message>
    <message>
        <source>Thread:%1錯誤%2(%3)</source>
        <translation>Thread:%1 error %2 (%3)</translation>
    </message>
    <message>
        <source>Thread%1:目錄&quot;%2&quot;</source>
        <translation>Thread%1:folder &quot;%2&quot;</translation>
    </message>
    <message>
        <source>搜尋完成</source>
        <translation>Search done</translation>
    </message>
    <message>
        <source>Thread%1:檔案大小%2(BYTES)</source>
        <translation>Thread%1:file size %2 (bytes)</translation>
    </message>
    <message>
        <source>Thread1:不能作為本機檔名&quot;%1&quot;</source>
        <translation>Thread1:cannot be a local file name &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Thread1:下載&quot;%1&quot;至&quot;%2&quot;</source>
        <translation>Thread1:downloaded &quot;%1&quot; to &quot;%2&quot;</translation>
    </message>
</context>
<context>
    <name>veltrano::ResultList</name>
    <message>
        <source>名稱</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>副檔名</source>
        <translation>Ext.</translation>
    </message>
    <message>
        <source>大小(KB)</source>
        <translation>Size (KB)</translation>
    </message>
    <message>
        <source>目錄</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>位置</source>
        <translation>Location</translation>
    </message>
    <message>
        <source>修改日期</source>
        <translation>Modified</translation>
    </message>
</context>
<context>
    <name>veltrano::ShellActions</name>
    <message>
        <source>%1 位元組(%2 個檔案,%3 個資料夾)</source>
        <translation>%1 bytes (%2 files, %3 folders)</translation>
    </message>
    <message>
        <source>至少 %1</source>
        <translation>At least %1</translation>
    </message>
    <message>
        <source>內容</source>
        <translation>Properties</translation>
    </message>
    <message>
        <source>名稱:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>位置:</source>
        <translation>Location:</translation>
    </message>
    <message>
        <source>大小:</source>
        <translation>Size:</translation>
    </message>
    <message>
        <source>權限:</source>
        <translation>Permissions:</translation>
    </message>
    <message>
        <source>擁有者:</source>
        <translation>Owner:</translation>
    </message>
    <message>
        <source>修改日期:</source>
        <translation>Modified:</translation>
    </message>
    <message>
        <source>確定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>在檔案管理員中開啟(&amp;O)</source>
        <translation>&amp;Open in File Manager</translation>
    </message>
    <message>
        <source>新資料夾(&amp;N)...</source>
        <translation>&amp;New Folder...</translation>
    </message>
    <message>
        <source>內容(&amp;R)</source>
        <translation>P&amp;roperties</translation>
    </message>
</context>
<context>
    <name>veltrano::TApplication</name>
    <message>
        <source>內部錯誤</source>
        <translation>Internal error</translation>
    </message>
</context>
<context>
    <name>veltrano::TBrwFolderForm</name>
    <message>
        <source>請選擇有效的磁碟目錄</source>
        <translation>Please choose a valid folder on a disk</translation>
    </message>
    <message>
        <source>父目錄並不存在,請選擇有效的目錄</source>
        <translation>The parent folder does not exist. Please choose a valid folder.</translation>
    </message>
    <message>
        <source>無法建立目錄 %1
%2</source>
        <translation>Could not create the folder %1
%2</translation>
    </message>
    <message>
        <source>確定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>放棄</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>新目錄</source>
        <translation>New Folder</translation>
    </message>
    <message>
        <source>瀏覽目錄</source>
        <translation>Browse for Folder</translation>
    </message>
    <message>
        <source>磁碟%1,容量%2MB,可用空間%3MB</source>
        <translation>Disk %1, capacity %2 MB, free %3 MB</translation>
    </message>
    <message>
        <source>新資料夾</source>
        <translation>New Folder</translation>
    </message>
    <message>
        <source>請輸入新資料夾的名稱</source>
        <translation>Enter the name of the new folder</translation>
    </message>
</context>
<context>
    <name>veltrano::TFontDialog</name>
    <message>
        <source>AaBbYyZz 搜尋位置</source>
        <translation>AaBbYyZz Look in</translation>
    </message>
    <message>
        <source>字型</source>
        <translation>Font</translation>
    </message>
    <message>
        <source>字型名稱</source>
        <translation>Font name</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
</context>
<context>
    <name>veltrano::TFtpForm</name>
    <message>
        <source>遠端</source>
        <translation>Remote</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>動作</source>
        <translation>Action</translation>
    </message>
    <message>
        <source>本機端</source>
        <translation>Local</translation>
    </message>
    <message>
        <source>狀態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>時間</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>嘗試</source>
        <translation>Tries</translation>
    </message>
    <message>
        <source>訊息</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>重連</source>
        <translation>Reconnect</translation>
    </message>
    <message>
        <source>斷線</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>佇列</source>
        <translation>Queue</translation>
    </message>
    <message>
        <source>中斷</source>
        <translation>Interrupt</translation>
    </message>
    <message>
        <source>放棄</source>
        <translation>Abort</translation>
    </message>
    <message>
        <source>檔案</source>
        <translation>Files</translation>
    </message>
    <message>
        <source>新工作</source>
        <translation>New Job</translation>
    </message>
    <message>
        <source>編輯工作</source>
        <translation>Edit Job</translation>
    </message>
    <message>
        <source>開啟來源電腦</source>
        <translation>Open Source Computer</translation>
    </message>
    <message>
        <source>開啟來源資料夾</source>
        <translation>Open Source Folder</translation>
    </message>
    <message>
        <source>刪除工作</source>
        <translation>Delete Job</translation>
    </message>
    <message>
        <source>更新工作</source>
        <translation>Renew Job</translation>
    </message>
    <message>
        <source>已下載%1</source>
        <translation>Downloaded %1</translation>
    </message>
    <message>
        <source>總下載%1</source>
        <translation>Total %1</translation>
    </message>
    <message>
        <source>失敗%1</source>
        <translation>Failed %1</translation>
    </message>
    <message>
        <source>仍然在連線中,是否確定要結束?</source>
        <translation>Still connected. Close anyway?</translation>
    </message>
    <message>
        <source>放棄結束連線</source>
        <translation>Close cancelled</translation>
    </message>
    <message>
        <source>錯誤</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>進度</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>通訊</source>
        <translation>Communication</translation>
    </message>
</context>
<context>
    <name>veltrano::TFtpOpenForm</name>
    <message>
        <source>下載且開啟</source>
        <translation>Download and open</translation>
    </message>
    <message>
        <source>下載</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>確定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>放棄</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>詢問</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>您選擇從這個位置下載檔案</source>
        <translation>You chose to download a file from this location</translation>
    </message>
    <message>
        <source>您對此檔案的處理為?</source>
        <translation>What do you want to do with this file?</translation>
    </message>
</context>
<context>
    <name>veltrano::TFtpQueryForm</name>
    <message>
        <source>覆蓋</source>
        <translation>Overwrite</translation>
    </message>
    <message>
        <source>續傳</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>放棄</source>
        <translation>Skip</translation>
    </message>
    <message>
        <source>所有檔案皆同樣處理</source>
        <translation>Do the same for all files</translation>
    </message>
    <message>
        <source>變更</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>詢問</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>來源檔案
檔名:%1
大小:%2
日期:%3

目的檔案
檔名:%4
大小:%5
日期:%6

</source>
        <translation>Source file
Name: %1
Size: %2
Date: %3

Target file
Name: %4
Size: %5
Date: %6

</translation>
    </message>
</context>
<context>
    <name>veltrano::THintForm</name>
    <message>
        <source>檔名</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>副檔名</source>
        <translation>Ext.</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>檢視</source>
        <translation>View</translation>
    </message>
    <message>
        <source>清單</source>
        <translation>List</translation>
    </message>
    <message>
        <source>詳細資料</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>FTP仍在工作或尚未準備好</source>
        <translation>FTP is still busy or not ready</translation>
    </message>
    <message>
        <source>讀取快取時發生錯誤</source>
        <translation>Could not read the cache</translation>
    </message>
    <message>
        <source>不能在更上層</source>
        <translation>Cannot go any higher</translation>
    </message>
</context>
<context>
    <name>veltrano::THistoryPage</name>
    <message>
        <source>選取</source>
        <translation>Recall</translation>
    </message>
    <message>
        <source>刪除</source>
        <translation>Delete</translation>
    </message>
</context>
<context>
    <name>veltrano::TMainForm</name>
    <message>
        <source>名稱及位置</source>
        <translation>Name and Location</translation>
    </message>
    <message>
        <source>條件選項</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>歷史</source>
        <translation>History</translation>
    </message>
    <message>
        <source>搜尋</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>清理</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>開啟(&amp;O)</source>
        <translation>&amp;Open</translation>
    </message>
    <message>
        <source>開啟所在電腦</source>
        <translation>Open Co&amp;mputer</translation>
    </message>
    <message>
        <source>開啟所在資料夾(&amp;F)</source>
        <translation>Open Containing &amp;Folder</translation>
    </message>
    <message>
        <source>內容提示</source>
        <translation>Show Folder &amp;Contents</translation>
    </message>
    <message>
        <source>儲存結果</source>
        <translation>&amp;Save Results</translation>
    </message>
    <message>
        <source>UTF-8 文字 (*.txt)</source>
        <translation>UTF-8 text (*.txt)</translation>
    </message>
    <message>
        <source>關鍵值含有伺服器無法接收的字元</source>
        <translation>The key holds characters the server cannot receive</translation>
    </message>
    <message>
        <source>FTP仍在工作或尚未準備好</source>
        <translation>FTP is still busy or not ready</translation>
    </message>
    <message>
        <source>條件一</source>
        <translation>Condition 1</translation>
    </message>
    <message>
        <source>條件二</source>
        <translation>Condition 2</translation>
    </message>
    <message>
        <source>條件三</source>
        <translation>Condition 3</translation>
    </message>
    <message>
        <source> 邏輯</source>
        <translation> logic</translation>
    </message>
    <message>
        <source> 欄位</source>
        <translation> field</translation>
    </message>
    <message>
        <source> 運算</source>
        <translation> operator</translation>
    </message>
    <message>
        <source> 關鍵字</source>
        <translation> key</translation>
    </message>
    <message>
        <source>搜尋結果</source>
        <translation>Search results</translation>
    </message>
    <message>
        <source>搜尋歷史</source>
        <translation>Search history</translation>
    </message>
    <message>
        <source>離線</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>在線上</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>狀態不明</source>
        <translation>State unknown</translation>
    </message>
    <message>
        <source>搜尋動畫</source>
        <translation>Search animation</translation>
    </message>
    <message>
        <source>轉動時表示正在搜尋</source>
        <translation>Turns while a search runs</translation>
    </message>
</context>
<context>
    <name>veltrano::TOptionsPage</name>
    <message>
        <source>只顯現有相關檔案的資料夾</source>
        <translation>Show only folders with matching files</translation>
    </message>
    <message>
        <source>搜尋前先清理</source>
        <translation>Clear the list before searching</translation>
    </message>
    <message>
        <source>目錄中命中則不深入搜尋</source>
        <translation>Do not search below a matching folder</translation>
    </message>
    <message>
        <source>同目錄命中互斥</source>
        <translation>One hit per folder</translation>
    </message>
    <message>
        <source>只比對目錄名稱</source>
        <translation>Match folder names only</translation>
    </message>
    <message>
        <source>同目錄中命中數必須大於</source>
        <translation>Hits per folder must exceed</translation>
    </message>
    <message>
        <source>即時快取資料顯示</source>
        <translation>Show cached contents on hover</translation>
    </message>
    <message>
        <source>清單</source>
        <translation>List</translation>
    </message>
    <message>
        <source>詳細資料</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>字型</source>
        <translation>Font...</translation>
    </message>
    <message>
        <source>代理伺服器</source>
        <translation>Proxy Server...</translation>
    </message>
    <message>
        <source>輸入時即時搜尋</source>
        <translation>Search as I type</translation>
    </message>
    <message>
        <source>在本機快取中搜尋時，停止輸入 150 毫秒後結果清單即隨關鍵字更新；只有按 Enter 或「搜尋」的搜尋才記入歷史</source>
        <translation>When searching the local cache, the result list follows the key 150 ms after typing stops; only searches confirmed with Enter or Search are recorded in the history</translation>
    </message>
</context>
<context>
    <name>veltrano::TPassForm</name>
    <message>
        <source>記住密碼</source>
        <translation>Remember password</translation>
    </message>
    <message>
        <source>確定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>放棄</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>密碼</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>電腦名稱</source>
        <translation>Computer</translation>
    </message>
    <message>
        <source>使用者</source>
        <translation>User</translation>
    </message>
</context>
<context>
    <name>veltrano::TProxyForm</name>
    <message>
        <source>代理伺服器</source>
        <translation>Proxy Server</translation>
    </message>
    <message>
        <source>來源</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>本機端</source>
        <translation>This computer</translation>
    </message>
    <message>
        <source>代理伺服器(1)</source>
        <translation>Proxy server (1)</translation>
    </message>
    <message>
        <source>使用被動模式(在防火牆之後)</source>
        <translation>Use passive mode (behind a firewall)</translation>
    </message>
    <message>
        <source>位置</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>使用者</source>
        <translation>User</translation>
    </message>
    <message>
        <source>密碼</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>一般選項</source>
        <translation>General</translation>
    </message>
    <message>
        <source>瀏覽...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>下載路徑</source>
        <translation>Download folder</translation>
    </message>
    <message>
        <source>嘗試下載次數</source>
        <translation>Download tries</translation>
    </message>
    <message>
        <source>嘗試間隔</source>
        <translation>Retry interval</translation>
    </message>
    <message>
        <source>確定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>放棄</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>「%1」不是有效的整數</source>
        <translation>“%1” is not a valid integer</translation>
    </message>
    <message>
        <source>「%1」不是有效的連接埠(1 到 65535)</source>
        <translation>“%1” is not a valid port (1 to 65535)</translation>
    </message>
    <message>
        <source>下載路徑含有無法儲存的字元:%1</source>
        <translation>The download folder holds characters that cannot be stored: %1</translation>
    </message>
    <message>
        <source>下載路徑過長(最多 %1 位元組):%2</source>
        <translation>The download folder is too long (at most %1 bytes): %2</translation>
    </message>
</context>
<context>
    <name>veltrano::TSearchPage</name>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
    <message>
        <source>搜尋位置</source>
        <translation>Look in</translation>
    </message>
</context>
</TS>
