#include "stationtexts.h"

QString stateWord(const Socket &socket)
{
    (void)socket;
    return QString();
}

QString reasonWords(Ending ending)
{
    (void)ending;
    return QString();
}

QString lastResultText(const Socket &socket)
{
    (void)socket;
    return QString();
}

QString countsText(const Socket &socket)
{
    (void)socket;
    return QString();
}

QString totalsText(const StationTotals &totals)
{
    (void)totals;
    return QString();
}
