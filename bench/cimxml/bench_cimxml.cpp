// Reading CIM-XML answers: MB/s of our reader (tokens, then the object model)
// next to expat alone on the same bytes, tokens only and nothing built.
// Goal: the full reader at least half the parser's own throughput.
//
// Documents: an EnumerateInstanceNames answer of 10,000 paths (the recorded
// 9,990 of OpenPegasus, completed to 10,000 in the same layout) and GetInstance
// answers of 100 properties of mixed types (the recorded one, and the same
// instance with every property given a value).
#include <benchmark/benchmark.h>
#include <expat.h>
#include <unistd.h>

#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMProperty.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "CimXml/CimXml.h"
#include "sample_files.h"

using namespace Pegasus;

namespace {

const std::string& enumerateNames10000()
{
    static const std::string doc = [] {
        std::string body = orvtest::sample("EnumerateInstanceNames-Perf_Item.body.xml");
        std::size_t end = body.rfind("</IRETURNVALUE>");
        std::string more;
        for (int id = 9990; id < 10000; ++id) {
            more +=
                "<INSTANCENAME CLASSNAME=\"Perf_Item\">\n<KEYBINDING NAME=\"Id\">\n<KEYVALUE "
                "VALUETYPE=\"numeric\">" +
                std::to_string(id) + "</KEYVALUE>\n</KEYBINDING>\n</INSTANCENAME>\n";
        }
        body.insert(end, more);
        if (orv::cimxml::readResponse(body).instanceNames.size() != 10000)
            throw std::logic_error("not 10,000 paths");
        return body;
    }();
    return doc;
}

const std::string& getInstanceRecorded()
{
    static const std::string doc = orvtest::sample("GetInstance-Perf_Item-3.body.xml");
    return doc;
}

// The recorded instance with a value in each of its 100 properties.
const std::string& getInstanceFilled()
{
    static const std::string doc = [] {
        orv::cimxml::CimResponse r = orv::cimxml::readResponse(getInstanceRecorded());
        CIMInstance inst = r.instances[0];
        for (Uint32 i = 0; i < inst.getPropertyCount(); ++i) {
            CIMProperty p = inst.getProperty(i);
            if (!p.getValue().isNull()) continue;
            switch (p.getType()) {
                case CIMTYPE_STRING:
                    p.setValue(CIMValue(String("value-3-") + String(std::to_string(i).c_str())));
                    break;
                case CIMTYPE_UINT32:
                    p.setValue(CIMValue(Uint32(4000000000u + i)));
                    break;
                case CIMTYPE_SINT64:
                    p.setValue(CIMValue(Sint64(-4000000000LL - i)));
                    break;
                case CIMTYPE_BOOLEAN:
                    p.setValue(CIMValue(Boolean(i % 2 == 0)));
                    break;
                case CIMTYPE_REAL64:
                    p.setValue(CIMValue(Real64(i + 0.25)));
                    break;
                case CIMTYPE_UINT8:
                    p.setValue(CIMValue(Uint8(i)));
                    break;
                case CIMTYPE_UINT16:
                    p.setValue(CIMValue(Uint16(i * 7)));
                    break;
                case CIMTYPE_CHAR16:
                    p.setValue(CIMValue(Char16('A' + i % 26)));
                    break;
                case CIMTYPE_DATETIME:
                    p.setValue(CIMValue(CIMDateTime(String("20261207041311.000000+000"))));
                    break;
                default:
                    throw std::logic_error("unexpected property type in the sample");
            }
        }
        r.instances[0] = inst;
        return orv::cimxml::writeResponse(r);
    }();
    return doc;
}

// expat alone: every token is reported to handlers that only count.
struct Counts {
    std::size_t elements = 0, textBytes = 0;
};
void XMLCALL onStart(void* ud, const XML_Char*, const XML_Char**)
{
    ++static_cast<Counts*>(ud)->elements;
}
void XMLCALL onEnd(void*, const XML_Char*) {}
void XMLCALL onText(void* ud, const XML_Char*, int len)
{
    static_cast<Counts*>(ud)->textBytes += static_cast<std::size_t>(len);
}

void parserOnly(benchmark::State& state, const std::string& doc)
{
    for (auto _ : state) {
        Counts counts;
        XML_Parser p = XML_ParserCreate(nullptr);
        XML_SetUserData(p, &counts);
        XML_SetElementHandler(p, onStart, onEnd);
        XML_SetCharacterDataHandler(p, onText);
        if (XML_Parse(p, doc.data(), static_cast<int>(doc.size()), XML_TRUE) != XML_STATUS_OK) {
            state.SkipWithError("expat failed");
        }
        XML_ParserFree(p);
        benchmark::DoNotOptimize(counts);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void tokensOnly(benchmark::State& state, const std::string& doc)
{
    for (auto _ : state) {
        orv::cimxml::XmlDocument d = orv::cimxml::XmlDocument::parse(doc);
        benchmark::DoNotOptimize(d.tokens().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void fullReader(benchmark::State& state, const std::string& doc)
{
    for (auto _ : state) {
        orv::cimxml::CimResponse r = orv::cimxml::readResponse(doc);
        benchmark::DoNotOptimize(r.instanceNames.size() + r.instances.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

}  // namespace

BENCHMARK_CAPTURE(parserOnly, EnumerateInstanceNames_10000, enumerateNames10000())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(tokensOnly, EnumerateInstanceNames_10000, enumerateNames10000())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fullReader, EnumerateInstanceNames_10000, enumerateNames10000())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parserOnly, GetInstance_100_recorded, getInstanceRecorded())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(tokensOnly, GetInstance_100_recorded, getInstanceRecorded())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullReader, GetInstance_100_recorded, getInstanceRecorded())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(parserOnly, GetInstance_100_all_values, getInstanceFilled())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(tokensOnly, GetInstance_100_all_values, getInstanceFilled())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullReader, GetInstance_100_all_values, getInstanceFilled())->Unit(benchmark::kMicrosecond);

namespace {

// The console table as usual, and the throughput of each run kept for the FIGURE lines.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    FigureReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            // With --benchmark_repetitions the median stands for the runs (it is reported after them).
            std::string name = r.benchmark_name();
            if (r.run_type == Run::RT_Aggregate) {
                if (r.aggregate_name != "median") continue;
                name.erase(name.size() - std::string("_median").size());
            }
            auto rate = r.counters.find("bytes_per_second");  // already per second of CPU time
            if (rate != r.counters.end()) megabytesPerSecond[name] = rate->second.value / 1e6;
        }
    }
    std::map<std::string, double> megabytesPerSecond;
};

// One machine-readable line per figure: name|value|unit|reference name|reference value.
void printFigure(const FigureReporter& rep, const char* what, const char* reader, const char* document)
{
    auto ours = rep.megabytesPerSecond.find(std::string(reader) + "/" + document);
    auto expat = rep.megabytesPerSecond.find(std::string("parserOnly/") + document);
    if (ours == rep.megabytesPerSecond.end() || expat == rep.megabytesPerSecond.end()) return;
    std::printf("FIGURE %s|%.1f|MB/s|expat alone|%.1f\n", what, ours->second, expat->second);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    printFigure(reporter, "CIM-XML reading, EnumerateInstanceNames 10,000 paths", "fullReader",
                "EnumerateInstanceNames_10000");
    printFigure(reporter, "CIM-XML tokens only, EnumerateInstanceNames 10,000 paths", "tokensOnly",
                "EnumerateInstanceNames_10000");
    printFigure(reporter, "CIM-XML reading, GetInstance 100 properties (recorded)", "fullReader",
                "GetInstance_100_recorded");
    printFigure(reporter, "CIM-XML reading, GetInstance 100 properties (all values)", "fullReader",
                "GetInstance_100_all_values");
    printFigure(reporter, "CIM-XML tokens only, GetInstance 100 properties (all values)", "tokensOnly",
                "GetInstance_100_all_values");
    return 0;
}
