// The program shell: entry function, command-line dispatch, the information
// texts, the web prompt and the interactive run.
#include "main.h"

#include "ConioChesd.h"
#include "chesd.h"
#include "console.h"
#include "pckeys.h"
#include "platform.h"

#include <cstring>

namespace quib {

namespace {

// The project's web host lives under a reserved example domain, so that the
// page address never leads anywhere real.
#define QUIB_WEB_HOST "www.quib.example"

constexpr const char *webHost = QUIB_WEB_HOST;
constexpr const char *pageAddress = QUIB_WEB_HOST "/cpp/sudoku";

#undef QUIB_WEB_HOST

constexpr const char *version = "0.9.1";
// The compiler's own texts, "Mmm dd yyyy" and "hh:mm:ss". A day below 10 is
// padded with a blank ("Nov  6 2013"), as the language defines the form.
constexpr const char *buildDate = __DATE__;
constexpr const char *buildTime = __TIME__;

// Standard error is in text mode like standard output: every "\n" goes out
// as CR LF. Nothing is buffered, so the text goes out a line at a time.
void writeErrorText(const char *text) {
  while (*text != '\0') {
    const std::size_t line = std::strcspn(text, "\n");
    writeStandardError(text, line);
    text += line;
    if (*text == '\n') {
      writeStandardError("\r\n", 2);
      ++text;
    }
  }
}

void reportOnStderr(const char *text) {
  writeErrorText(text != nullptr ? text : "");
  writeErrorText("\n");
}

bool isYesKey(int code) {
  switch (code) {
  case pc::enterKey.plain: // Return
  case pc::enterKey.ctrl:  // line feed, Ctrl+Return
  case pc::spaceKey.plain:
  case 'J': // Ja
  case 'j':
  case 'Y': // yes
  case 'y':
    return true;
  default:
    return false;
  }
}

} // namespace

int runGuarded(int (*body)(int, char **), int argc, char **argv) {
  try {
    return body(argc, argv);
  } catch (const char *text) {
    reportOnStderr(text);
    return 1;
  } catch (...) {
    reportOnStderr("Unbehandelte Exception");
    return 1;
  }
}

int runProgram(int argc, char **argv) {
  if (argc != 2)
    return runInteractive();
  const char *arg = argv[1];
  auto is = [arg](const char *option) { return std::strcmp(arg, option) == 0; };
  if (is("-v") || is("--version") || is("-i") || is("--info"))
    return showVersion();
  if (is("-h") || is("--help") || is("?"))
    return showHelp();
  return showUsageError();
}

int showVersion() {
  printText("\n"
            "   Quib - Sudoku Solver\n"
            "\n"
            "   Version %s, %s, %s\n"
            "   %s\n",
            version, buildDate, buildTime, webHost);
  return offerWebPage();
}

int showHelp() {
  // "k\xF6" "nnen": the single Latin-1 byte for the o umlaut; the literal is
  // split so that the 'n' after it is not read as a further hex digit.
  printText(
      "   \n"
      "   Die Eingabe des Sudokus erfolgt wie bei einem Texteditor oder wie\n"
      "   bei einer Textverarbeitung.\n"
      "   \n"
      "   Den Cursor mit den Pfeiltasten bewegen. An der richtigen Position\n"
      "   durch eine Taste von '1' .. '9' die entsprechende Ziffer in des\n"
      "   Spielfeld eintragen.\n"
      "   \n"
      "   Falsche Eingaben k\xF6"
      "nnen durch Ueberschreiben korrigiert werden.\n"
      "   Mit ENTF oder BACKSPACE werden Eintraege an falschen Positionen\n"
      "   vollstaendig geloescht. \n"
      "   \n"
      "   Mit RETURN wird die Eingabe beendet und das Sudoku geloest. Mit\n"
      "   ESC wird das Programm beendet, ohne das Sudoku zu loesen.\n"
      "   \n");
  return offerWebPage();
}

int showUsageError() {
  printText("   \n"
            "  Ungueltiger Parameter auf der Kommandozeile\n"
            "   \n"
            "  Gueltige Parameter:\n"
            "   \n"
            "  ?, --help, -h: Zeigt einen Hilfetext an.\n"
            "  --version, -v: Zeigt die Version von QUIB an.\n"
            "  --info, i:     Zeigt die Version von QUIB an.\n");
  return 0;
}

int offerWebPage() {
  printText("   Gehe fuer mehr Informationen und die neueste Version\n"
            "   auf %s (J/N)? ",
            webHost);
  if (!isYesKey(readKey())) {
    printText("N\n");
    return 0;
  }
  printText("J\n");
  openWebPage(pageAddress);
  return 0;
}

int runInteractive() {
  Grid grid; // a new grid is empty
  if (!editGrid(grid)) {
    clearScreen();
    setCursorShape(cursorNormal);
    return 0;
  }
  const bool solved = solve(grid);
  if (solved) {
    showSolution(grid);
    setCursorShape(cursorHidden);
  }
  clearScreen();
  setCursorShape(cursorNormal);
  if (!solved)
    printText("Konnte keine Loesung finden\n");
  return 0;
}

} // namespace quib

namespace {

// The console layer is open before main's first statement and closed at the
// program's normal end, after main has returned.
quib::ConsoleSession consoleSession;

} // namespace

int main(int argc, char **argv) {
  quib::takeArguments(argc, argv);
  return quib::runGuarded(quib::runProgram, argc, argv);
}
