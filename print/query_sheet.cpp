#include "query_sheet.h"

#include "platform/platform.h"
#include "print/printer.h"
#include "report_text.h"

namespace velario {

namespace {

// Stops at the first step the printer refuses.
void printSheet(Printer& printer, const QuerySheetFields& fields) {
    if (printer.setFontSize(9))
        return;
    printer.print({QStringLiteral(" ")});

    printer.setFontBold(true);
    printer.setFontUnderline(true);
    printer.printOpen({QStringLiteral("Codice")});
    printer.setFontUnderline(false);
    printer.printOpen({QString(10, u' ')});
    printer.setFontUnderline(true);
    printer.printOpen({QStringLiteral("Descrizione selezione SQL")});
    printer.setFontUnderline(false);
    printer.print({QString(40, u' '), reportStamp(platform().now())});

    printer.setFontBold(false);
    printer.print({fitText(fields.code, 16), fields.description});
    printer.print({QStringLiteral(" ")});

    printer.setFontBold(true);
    printer.printOpen({QStringLiteral("DATABASE: ")});
    printer.setFontBold(false);
    printer.print({fitText(trimBlanks(fields.database), 80), QStringLiteral("  Tipo: "),
                   trimBlanks(fields.databaseType)});
    printer.print({QStringLiteral(" ")});

    printer.setFontUnderline(true);
    printer.setFontBold(true);
    printer.print({QStringLiteral("Selezione SQL")});
    printer.setFontUnderline(false);
    printer.setFontBold(false);
    printer.print({fields.sql});
}

} // namespace

void printQuerySheet(const QuerySheetFields& fields) {
    platform().setMousePointer(MousePointer::Hourglass);
    Printer& printer = Printer::instance();
    // A step that fails ends the sheet where it is; what was printed is still ended as a
    // document, so that nothing is left waiting at the printer for the next report.
    printSheet(printer, fields);
    const Error delivered = printer.endDoc();
    platform().beep();
    platform().setMousePointer(MousePointer::Default);
    if (delivered)
        reportUndelivered(delivered, printer.lastDocument().destination);
}

} // namespace velario
