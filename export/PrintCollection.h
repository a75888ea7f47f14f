// The print page: the checked records of one category written as labelled
// paragraphs into "template/Print.html", for a browser to show and print.
//
// Body layout (UTF-8, CR LF line ends), one block per record or message:
//   <div>\r\n
//   <p><span>Label:</span>value</p>\r\n      one line per field, labels below
//   </div>\r\n
// WhatsApp blocks end with "<p><span>Content:</span></p>\r\n" followed by one
// "<p>sender (date): text</p>\r\n" per message of the chat.
//
// Every value is HTML-escaped (& < > " ') and its line breaks become
// "<br />", so no record text can become markup or script in the page.
//
// The collection runs on a worker thread; it reads the scan results and the
// selection and changes neither. The caller keeps both unchanged while it
// runs (the print window holds its lock around the call).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "core/ScanResults.h"
#include "core/Statistics.h"
#include "platform/Status.h"

namespace corvyn::exporting {

// The marker of a template where the body goes.
inline constexpr std::string_view kContentMarker = "{|content|}";

// The page file's name inside the print folder. It keeps the ".html"
// extension: browsers (Chromium, and the Qt web view built on it) decide how
// to show a local file by its extension, and show one without it as plain
// text, markup and all.
inline constexpr std::string_view kPrintPageName = "page.html";

// "template/Print.html" beside the program.
std::filesystem::path DefaultPrintTemplatePath();
// "Print" beside the program: the folder of the page file, which stays there
// after printing and is replaced by the next print.
std::filesystem::path DefaultPrintFolder();

// The print template split at its first "{|content|}".
struct PrintTemplate {
  std::string head;  // everything before the marker
  std::string tail;  // everything after it
};

// Reads the template. Returns kOk; the system error of a failed open or read;
// or kInvalidData for a template without "{|content|}" (its text is then not
// used: the page would hold the body at the wrong place). On failure `out` is
// left empty, so the page consists of the body alone.
Status LoadPrintTemplate(const std::filesystem::path& templatePath, PrintTemplate* out);

// Asked before each record, conversation message or chat; true ends the
// collection with kStopped.
using PrintCancelCheck = std::function<bool()>;

// The categories that print: those of database records (Messages,
// Contacts, Call History, Notes, WhatsApp); files do not.
bool CategoryPrints(RecordCategory category);

struct PrintSelection {
  RecordCategory category = RecordCategory::kNone;  // Messages, Contacts, Call History, Notes, WhatsApp
  bool onlyDeleted = false;                         // the view shows deleted records only
};

// Appends to `body` the blocks of the selected category: every record (for
// Messages and WhatsApp every conversation or chat row) that is checked in
// `statistics` and, with onlyDeleted, marked deleted, in list order. A
// conversation or chat that passes prints all its messages, deleted or not.
// Any other category appends nothing. Returns kOk, or kStopped when
// `cancel` answered true (the body then holds the blocks made so far).
Status CollectPrintBody(const ScanResults& results, const CStatisticsObj& statistics,
                        const PrintSelection& selection, const PrintCancelCheck& cancel, std::string* body);

// Writes head + body + tail to `folder`/kPrintPageName, creating the folder
// when it is missing and replacing an earlier page. Returns kOk or the system
// error of the failed step; `pagePath` (when given) receives the file's path.
Status WritePrintPage(const std::filesystem::path& folder, const PrintTemplate& printTemplate,
                      std::string_view body, std::filesystem::path* pagePath = nullptr);

// Where the page's parts come from and go.
struct PrintPaths {
  std::filesystem::path templatePath = DefaultPrintTemplatePath();
  std::filesystem::path folder = DefaultPrintFolder();
};

// The whole print: loads the template, collects the body and writes the
// page. A template that cannot be used does not stop the print (the page is
// the body alone); its status goes to `templateStatus` for the caller to show
// or log. Returns kStopped when cancelled (nothing is
// written), else WritePrintPage's result.
Status MakePrintPage(const ScanResults& results, const CStatisticsObj& statistics,
                     const PrintSelection& selection, const PrintCancelCheck& cancel, const PrintPaths& paths,
                     Status* templateStatus, std::filesystem::path* pagePath = nullptr);

}  // namespace corvyn::exporting
