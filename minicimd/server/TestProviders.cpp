// Built-in method providers for the classes of minicimd's test schema
// (schema/minicimd-test.mof).  They exist so that clients can test method
// calls end to end: parameters of every shape in and out, and failures.
#include "server/CimHandler.h"

#include <Pegasus/Common/CIMDateTime.h>

using namespace Pegasus;

namespace minicimd {

void CimHandler::addTestProviders()
{
    // Echo and EchoTypes hand every input parameter back as an output
    // parameter and return Text.
    auto echo = [](const Repository&, const std::string&, const CIMObjectPath&, const CIMConstMethod& m,
                   const std::vector<ParamValue>& in, std::vector<ParamValue>& out) {
        out = in;
        CIMValue ret(m.getType(), false);
        for (const auto& p : in)
            if (nameEq(p.name, "Text")) ret = p.value;
        return ret;
    };
    addProvider("Test_Methods", "Echo", echo);
    addProvider("Test_Methods", "EchoTypes", echo);
    addProvider("Test_Methods", "Fail",
                [](const Repository&, const std::string&, const CIMObjectPath&, const CIMConstMethod&,
                   const std::vector<ParamValue>& in, std::vector<ParamValue>&) {
                    Uint32 code = 0;
                    std::string message = "failed on request";
                    for (const auto& p : in) {
                        if (p.value.isNull()) continue;
                        if (nameEq(p.name, "Code")) p.value.get(code);
                        if (nameEq(p.name, "Message")) {
                            String s;
                            p.value.get(s);
                            message = str(s);
                        }
                    }
                    if (code == 0) return CIMValue(Uint32(0));
                    if (code > 28)
                        throw CimError(kCimInvalidParameter,
                                       "Code " + std::to_string(code) + " is not a CIM status code");
                    throw CimError(static_cast<int>(code), message);
                });
    addProvider("Test_Methods", "Outputs",
                [](const Repository& repo, const std::string& ns, const CIMObjectPath&, const CIMConstMethod&,
                   const std::vector<ParamValue>&, std::vector<ParamValue>& out) {
                    Array<Uint32> numbers;
                    numbers.append(1);
                    numbers.append(2);
                    numbers.append(4294967295u);
                    out.push_back({"Numbers", CIMValue(numbers)});
                    Array<String> words;
                    words.append("one");
                    words.append("two & <three>");
                    out.push_back({"Words", CIMValue(words)});
                    out.push_back({"Stamp", CIMValue(CIMDateTime(String("20240229235958.123456-300")))});
                    out.push_back({"Interval", CIMValue(CIMDateTime(String("00000001020304.500000:000")))});
                    std::vector<CIMObjectPath> all = repo.enumerateInstanceNames(ns, "Test_Base");
                    if (!all.empty()) out.push_back({"Target", CIMValue(all[0])});
                    Array<CIMObjectPath> targets;
                    for (const auto& p : all) targets.append(p);
                    out.push_back({"Targets", CIMValue(targets)});
                    return CIMValue(Uint32(0));
                });
}

}  // namespace minicimd
