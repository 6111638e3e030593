#include "printer/printer_state.h"

#include <string.h>

char g_szPrinterName[PRINTER_NAME_SIZE] = "";
char g_szPrinterPort[PRINTER_PORT_SIZE] = "";
char g_szPrinterDriver[PRINTER_DRIVER_SIZE] = "";
BOOL g_fPrinterSelected = FALSE;
char g_szPrinterPosition[2] = "S";
BOOL g_fLaminator = FALSE;

HGLOBAL g_hPrinterList = NULL;
PRINTER_INFO_2A* g_PrinterList = NULL;
BYTE g_bPrinterCount = 0;

int PrinterNameBegins(const char* pszName, const char* pszModel) {
    if (pszName == NULL || pszModel == NULL) return 0;
    return strncmp(pszName, pszModel, strlen(pszModel)) == 0 ? 1 : 0;
}

char PrinterPositionFor(const char* pszName) {
    return PrinterNameBegins(pszName, MODEL_OPTICAL_DISC_PRINTER) ? 'I' : 'S';
}
