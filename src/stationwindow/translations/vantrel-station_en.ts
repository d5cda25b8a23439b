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
</TS>
