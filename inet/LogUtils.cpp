#include "LogUtils.h"

TLogger& Logger()
{
    static TLogger logger;
    return logger;
}
