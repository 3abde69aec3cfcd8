// The _embervise extension: thin wrappers that release the GIL around every call into the
// libraries and answer plain values; the embervise package builds the Python data and raises.
#include "bindings.h"
#include "packed.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>

namespace py = pybind11;

namespace embervise
{
std::mutex& EngineLock()
{
    static std::mutex s_lock;
    return s_lock;
}

namespace
{
// (failure kind, file, message); kind 0 for success.
py::tuple Status(const Outcome& outcome)
{
    return py::make_tuple(static_cast<int>(outcome.eFailure), py::bytes(outcome.sFile),
                          py::bytes(outcome.sMessage));
}

// Texts from files are bytes: the package decodes them, replacing what is not UTF-8.
py::bytes Bytes(const std::string& s)
{
    return py::bytes(s);
}
} // namespace
} // namespace embervise

PYBIND11_MODULE(_embervise, m)
{
    using namespace embervise;
    m.doc() = "Native part of the embervise package; use the package, not this module.";

    m.def("module_schema",
          [](const std::string& sPath)
          {
              std::string sJson;
              Outcome outcome;
              {
                  py::gil_scoped_release release;
                  outcome = ModuleSchema(sPath, sJson);
              }
              return py::make_tuple(Status(outcome), Bytes(sJson));
          });
    m.def("locate_module",
          [](const std::string& sFile)
          {
              std::string sModule;
              Outcome outcome;
              {
                  py::gil_scoped_release release;
                  outcome = LocateModule(sFile, sModule);
              }
              return py::make_tuple(Status(outcome), Bytes(sModule));
          });
    m.def("check",
          [](const std::string& sPath, const std::string& sModule)
          {
              std::vector<std::string> lines;
              Outcome outcome;
              {
                  py::gil_scoped_release release;
                  outcome = CheckSource(sPath, sModule, lines);
              }
              py::list out;
              for (const std::string& sLine : lines)
                  out.append(Bytes(sLine));
              return py::make_tuple(Status(outcome), out);
          });
#ifdef EMBERVISE_HAVE_CHECK_TEXT
    m.def("check_text",
          [](const std::string& sName, const std::string& sBytes, const std::string& sModule)
          {
              std::vector<std::string> lines;
              Outcome outcome;
              {
                  py::gil_scoped_release release;
                  outcome = CheckSourceText(sName, sBytes, sModule, lines);
              }
              py::list out;
              for (const std::string& sLine : lines)
                  out.append(Bytes(sLine));
              return py::make_tuple(Status(outcome), out);
          });
#endif
    m.def("decompile",
          [](const std::string& sPath, const std::string& sModule)
          {
              std::string sText;
              Outcome outcome;
              {
                  py::gil_scoped_release release;
                  outcome = Decompile(sPath, sModule, sText);
              }
              return py::make_tuple(Status(outcome), Bytes(sText));
          });
    m.def("diff",
          [](const std::string& sOld, const std::string& sNew, const std::string& sModule, bool bJson)
          {
              std::string sText;
              bool bSame = false;
              Outcome outcome;
              {
                  py::gil_scoped_release release;
                  outcome = Diff(sOld, sNew, sModule, bJson, bSame, sText);
              }
              return py::make_tuple(Status(outcome), bSame, Bytes(sText));
          });
    m.def("pack",
          [](const std::string& sPlugin, const std::string& sSource, const std::string& sDestination)
          {
              PackOutcome result;
              {
                  py::gil_scoped_release release;
                  result = Pack(sPlugin, sSource, sDestination);
              }
              py::list messages;
              for (const PackMessage& message : result.messages)
                  messages.append(py::make_tuple(message.nLevel, Bytes(message.sText)));
              return py::make_tuple(Status(result.outcome), Bytes(result.sDestination), messages);
          });

    py::class_<CPackedView, std::shared_ptr<CPackedView>>(m, "PackedView")
        .def(py::init<>())
        .def("open",
             [](CPackedView& view, const std::string& sPath, const std::string& sModule)
             {
                 Outcome outcome;
                 {
                     py::gil_scoped_release release;
                     outcome = view.Open(sPath, sModule);
                 }
                 return Status(outcome);
             })
        .def("head",
             [](CPackedView& view)
             {
                 std::string sJson;
                 {
                     py::gil_scoped_release release;
                     sJson = view.HeadJson();
                 }
                 return Bytes(sJson);
             })
        .def("effects_start", &CPackedView::EffectsStart, py::call_guard<py::gil_scoped_release>())
        .def("next_effect",
             [](CPackedView& view, uint32_t nPos) -> py::object
             {
                 std::string sJson;
                 bool bMore = false;
                 {
                     py::gil_scoped_release release;
                     bMore = view.NextEffect(nPos, sJson);
                 }
                 if (!bMore)
                     return py::none();
                 return py::make_tuple(Bytes(sJson), nPos);
             })
        .def("verify",
             [](CPackedView& view)
             {
                 std::string sJson;
                 {
                     py::gil_scoped_release release;
                     sJson = view.Verify();
                 }
                 return Bytes(sJson);
             })
        .def("problems",
             [](CPackedView& view)
             {
                 std::string sJson;
                 {
                     py::gil_scoped_release release;
                     sJson = view.ProblemsJson();
                 }
                 return Bytes(sJson);
             });
}
