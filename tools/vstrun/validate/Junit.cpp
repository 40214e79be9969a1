#include "validate/Junit.h"

#include <cstdio>
#include <stdexcept>

#include "validate/Checks.h"
#include "vsthost/Files.h"

namespace validate {

namespace {

// Plug-ins' texts may hold any bytes; XML allows few of them.
std::string escaped(const std::string& s) {
  std::string r;
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '&') r += "&amp;";
    else if (ch == '<') r += "&lt;";
    else if (ch == '>') r += "&gt;";
    else if (ch == '"') r += "&quot;";
    else if ((c < 0x20 && ch != '\n') || c >= 0x7F) r += '?';
    else r += ch;
  }
  return r;
}

// One test case: the lines of one check; a failure when one of them is.
std::string testCase(const std::string& group, const std::string& name, const std::vector<const Result*>& lines,
                     const char* skipped, int* failures, int* skips) {
  std::string x = "    <testcase classname=\"vstrun.validate." + escaped(group) + "\" name=\"" + escaped(name) + "\"";
  if (skipped) {
    ++*skips;
    return x + ">\n      <skipped message=\"" + escaped(skipped) + "\"/>\n    </testcase>\n";
  }
  x += ">\n";
  std::string out;
  const Result* firstFail = nullptr;
  for (const Result* r : lines) {
    out += std::string(word(r->kind)) + " " + r->text + "\n";
    if (r->kind == 'F' && !firstFail) firstFail = r;
  }
  if (firstFail) {
    ++*failures;
    x += "      <failure message=\"" + escaped(firstFail->text) + "\">" + escaped(out) + "</failure>\n";
  }
  else if (!out.empty()) x += "      <system-out>" + escaped(out) + "</system-out>\n";
  return x + "    </testcase>\n";
}

}  // namespace

std::string junitXml(const Options& o, const std::vector<GroupRun>& runs) {
  std::string suites;
  int allTests = 0, allFailures = 0, allSkipped = 0;
  for (const GroupRun& run : runs) {
    std::string cases;
    int tests = 0, failures = 0, skips = 0;
    for (const Check& c : checks()) {
      if (groupOf(c.name) != run.name) continue;
      std::vector<const Result*> lines;
      for (const Result& r : run.results)
        if (r.check == c.name) lines.push_back(&r);
      const char* skipped = !selected(c.name, o.only, o.skip) ? "left out by --only or --skip"
                            : !run.started.count(c.name) && lines.empty()
                                ? "not run: it does not apply to this plug-in, or the group ended before it"
                                : nullptr;
      cases += testCase(run.name, c.name, lines, skipped, &failures, &skips);
      ++tests;
    }
    std::vector<const Result*> groupLines;  // not within any check: a crash before the first one
    for (const Result& r : run.results)
      if (!findCheck(r.check)) groupLines.push_back(&r);
    if (!groupLines.empty()) {
      cases += testCase(run.name, run.name, groupLines, nullptr, &failures, &skips);
      ++tests;
    }
    suites += "  <testsuite name=\"" + escaped(run.name) + "\" tests=\"" + std::to_string(tests) + "\" failures=\"" +
              std::to_string(failures) + "\" errors=\"0\" skipped=\"" + std::to_string(skips) + "\" time=\"" +
              format("%.3f", run.seconds) + "\">\n" + cases + "  </testsuite>\n";
    allTests += tests;
    allFailures += failures;
    allSkipped += skips;
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"vstrun validate " + escaped(o.module) +
         " (seed " + std::to_string(o.seed) + ")\" tests=\"" + std::to_string(allTests) + "\" failures=\"" +
         std::to_string(allFailures) + "\" errors=\"0\" skipped=\"" + std::to_string(allSkipped) + "\">\n" + suites +
         "</testsuites>\n";
}

void writeJunit(const std::string& path, const Options& o, const std::vector<GroupRun>& runs) {
  const std::string xml = junitXml(o, runs);
  std::FILE* f = vsthost::openFile(path, "wb");
  const bool written = f && std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
  if ((f && std::fclose(f) != 0) || !written) throw std::runtime_error("cannot write the JUnit report " + path);
}

}  // namespace validate
