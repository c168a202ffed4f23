#include "driver/run_rewrite.h"

#include "driver/process.h"
#include "driver/replace_extension.h"
#include "driver/rewrite_rule.h"
#include "driver/settings_reader.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

namespace ncrewrite {
namespace {

constexpr std::int32_t kTapOutput = 1;

}  // namespace

void RunRewrite() {
  const std::string input = GetCommandArgument(1);
  if (!IsExistingFile(input)) return;

  // Declared in order of creation, so the settings reader is released before
  // the line list, on every path.
  LineList lines;
  LoadTextFile(lines, input);
  const SettingsReader settings(ReplaceExtension(GetExecutablePath(), ".ini"));
  const std::int32_t output_mode = settings.ReadNumber(u"common", u"test", 0);
  ApplyRewriteRule(lines);
  if (output_mode == kTapOutput) {
    SaveTextFile(lines, ReplaceExtension(input, ".tap"));
  } else {
    SaveTextFile(lines, input, SaveTarget::kTheLoadedFile);
  }
}

}  // namespace ncrewrite
