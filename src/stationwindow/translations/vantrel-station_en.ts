<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>SocketGrid</name>
    <message>
        <source>插座</source>
        <translation>Sockets</translation>
    </message>
</context>
<context>
    <name>StationTexts</name>
    <message>
        <source>等待</source>
        <extracomment>A socket without a board</extracomment>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>下载中</source>
        <extracomment>A socket whose board is being flashed</extracomment>
        <translation>Flashing</translation>
    </message>
    <message>
        <source>成功</source>
        <extracomment>A socket whose board was flashed and is still in</extracomment>
        <translation>Passed</translation>
    </message>
    <message>
        <source>失败</source>
        <extracomment>A socket whose board&apos;s run failed</extracomment>
        <translation>Failed</translation>
    </message>
    <message>
        <source>中断</source>
        <extracomment>A socket whose board&apos;s run the operator stopped</extracomment>
        <translation>Interrupted</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>No answer</translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation>Connection failed</translation>
    </message>
    <message>
        <source>下载失败</source>
        <translation>Download failed</translation>
    </message>
    <message>
        <source>未完成</source>
        <extracomment>The board never sent its completion reply</extracomment>
        <translation>Not completed</translation>
    </message>
    <message>
        <source>已断开</source>
        <extracomment>The port went away during the run</extracomment>
        <translation>Disconnected</translation>
    </message>
    <message>
        <source>无法打开</source>
        <translation>Cannot open</translation>
    </message>
    <message>
        <source>出错</source>
        <extracomment>A failure&apos;s reason when none more precise is known</extracomment>
        <translation>Error</translation>
    </message>
    <message>
        <source>上一块：成功</source>
        <extracomment>The board last taken out of this socket passed</extracomment>
        <translation>Last board: passed</translation>
    </message>
    <message>
        <source>上一块：失败</source>
        <extracomment>The board last taken out of this socket failed</extracomment>
        <translation>Last board: failed</translation>
    </message>
    <message>
        <source>成功 %1  失败 %2</source>
        <extracomment>A socket&apos;s own counts of boards that passed and failed</extracomment>
        <translation>Passed %1  Failed %2</translation>
    </message>
    <message>
        <source>成功 %1  失败 %2  中断 %3  每小时 %4 块  运行 %5</source>
        <extracomment>The station&apos;s counts: passed, failed, interrupted, boards passed per hour, running time</extracomment>
        <translation>Passed %1  Failed %2  Interrupted %3  %4 boards/hour  Running %5</translation>
    </message>
</context>
<context>
    <name>StationWindow</name>
    <message>
        <source>报告文件：</source>
        <translation>Report file:</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>选择报告…</source>
        <translation>Choose report…</translation>
    </message>
    <message>
        <source>加载镜像…</source>
        <translation>Load image…</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>镜像：</source>
        <translation>Image:</translation>
    </message>
    <message>
        <source>字节：</source>
        <translation>Bytes:</translation>
    </message>
    <message>
        <source>格式：</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>起始地址：</source>
        <translation>Start address:</translation>
    </message>
    <message>
        <source>SHA-256：</source>
        <translation>SHA-256:</translation>
    </message>
    <message>
        <source>下载波特率：</source>
        <translation>Download rate:</translation>
    </message>
    <message>
        <source>复位波特率：</source>
        <translation>Reset rate:</translation>
    </message>
    <message>
        <source>自动复位</source>
        <translation>Automatic reset</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>无法打开报告文件：%1</source>
        <translation>Cannot open the report file: %1</translation>
    </message>
    <message>
        <source>加载镜像</source>
        <translation>Load image</translation>
    </message>
    <message>
        <source>报告文件</source>
        <translation>Report file</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>报告文件少了 %1 的一行：%2</source>
        <translation>The report file is missing a row for %1: %2</translation>
    </message>
</context>
</TS>
