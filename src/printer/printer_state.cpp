#include "printer/printer_state.h"

char g_szPrinterName[PRINTER_NAME_SIZE] = "";
char g_szPrinterPort[PRINTER_NAME_SIZE] = "";
BOOL g_fPrinterSelected = FALSE;
char g_szPrinterPosition[2] = "S";
BOOL g_fLaminator = FALSE;
