#include "high/High.h"
#include "ui_LayerWindow.h"
