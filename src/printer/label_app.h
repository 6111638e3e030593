// The label application's automation server (SureThing), as the module calls it: created once at
// start-up and held for the module's life, its methods called by their place in the interface's
// method table (0 to 2 are the three methods every such interface begins with).
#ifndef ROVANE_LABEL_APP_H
#define ROVANE_LABEL_APP_H

#include <windows.h>

#define LABEL_APP_PROG_ID L"STCD3Control.App.2"
#define LABEL_APP_IID_TEXT "{9B514DAB-39D5-48C5-BF74-93408763BD15}"

#define LABEL_APP_METHOD_PRINT 9          // (file, printer, driver, port): prints the design
#define LABEL_APP_METHOD_OPEN 10          // (): opens the application for the user
#define LABEL_APP_METHOD_FIRST_SETUP 14   // (0)
#define LABEL_APP_METHOD_SECOND_SETUP 16  // (1)
#define LABEL_APP_METHOD_JOB_NUMBER 24    // (number of this print within the job)
#define LABEL_APP_METHOD_OWNER 28         // ("Marlune")

// Start-up: CoInitialize, the class from its ProgID, the object in-process. On success calls the
// owner method with "Marlune" and sets g_fSureThing; any failure leaves it clear.
void CreateLabelApp(void);
// The calls the other operations make; each does nothing while g_fSureThing is clear. Results
// are ignored: the module relies on none of them.
void LabelAppOpen(void);
// Before each print: the two set-up calls (14 with 0, 16 with 1), then the number of this print
// within the job (24).
void LabelAppPrepare(DWORD dwPrintJobNumber);
// Prints the design on a printer (9). The texts go over as wide text in the system's code page:
// file and printer cut to 249 characters, driver and port to 19.
void LabelAppPrintDesign(const char* pszFile, const char* pszPrinter, const char* pszDriver, const char* pszPort);
// LabelAppPrepare, then LabelAppPrintDesign.
void LabelAppPrint(const char* pszFile, const char* pszPrinter, const char* pszDriver, const char* pszPort,
                   DWORD dwPrintJobNumber);

#endif
