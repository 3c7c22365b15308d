// yt-dlp plug-in that keeps browser-session headers on the origins they were captured for.
// yt-dlp imports it as yt_dlp_plugins.postprocessor.websess; the work happens in the
// replacement of curl_cffi's Session.request, the post-processor only triggers the import.
#include <pybind11/pybind11.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

constexpr int maxRequests = 20;
constexpr const char *invalidRedirect = "Invalid browser-session redirect";
constexpr const char *tooManyRedirects = "Too many browser-session redirects";

// Built once at import and only read afterwards. Deliberately never freed: destroying
// Python objects from a C++ static destructor after the interpreter is gone crashes.
struct State {
    py::object urlsplit;
    py::object urljoin;
    py::dict scopes;
    py::object headerNames;
    py::object extractorHeaders;
    py::object originalRequest;
};
State *state = nullptr;

py::str lowered(const py::handle &name)
{
    return py::str(name.attr("lower")());
}

bool contains(const py::object &set, const py::handle &key)
{
    const int found = PySequence_Contains(set.ptr(), key.ptr());
    if (found < 0)
        throw py::error_already_set();
    return found == 1;
}

py::tuple originOfParts(const py::handle &parts)
{
    const py::str scheme(parts.attr("scheme"));
    const py::object host = parts.attr("hostname");
    const py::object port = parts.attr("port");
    py::object portKey;
    if (!port.is_none() && port.cast<long>() != 0)
        portKey = port;
    else
        portKey = py::int_(scheme.cast<std::string>() == "https" ? 443 : 80);
    return py::make_tuple(scheme, host.is_none() ? py::str("") : lowered(host), portKey);
}

py::tuple origin(const py::object &url)
{
    return originOfParts(state->urlsplit(url));
}

// The origin of an address the request method may send to; none for anything else
// (other schemes, embedded credentials, no host, a port that does not parse).
std::optional<py::tuple> requestOrigin(const py::object &url)
{
    py::object parts;
    try {
        parts = state->urlsplit(url);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError))
            throw;
        return std::nullopt;
    }
    const std::string scheme = py::str(parts.attr("scheme")).cast<std::string>();
    if (scheme != "http" && scheme != "https")
        return std::nullopt;
    if (!parts.attr("username").is_none() || !parts.attr("password").is_none())
        return std::nullopt;
    const py::object host = parts.attr("hostname");
    if (host.is_none() || py::len(host) == 0)
        return std::nullopt;
    try {
        return originOfParts(parts);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError))
            throw;
        return std::nullopt;
    }
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

using HeaderList = std::vector<std::pair<py::object, py::object>>;

void dropHeaders(HeaderList &headers, const auto &shouldDrop)
{
    std::erase_if(headers, [&](const auto &header) { return shouldDrop(lowered(header.first)); });
}

py::object scopedRequest(py::object self, py::object method, py::object url, const py::kwargs &callerOptions)
{
    // A copy: the caller's dictionary may be shared with it.
    const py::dict kwargs = callerOptions.attr("copy")();
    kwargs["allow_redirects"] = false;

    HeaderList base;
    const py::object callerHeaders = kwargs.attr("pop")("headers", py::none());
    if (!callerHeaders.is_none()) {
        for (const py::handle item : callerHeaders.attr("items")()) {
            const py::object name = item[py::int_(0)];
            const py::str key = lowered(name);
            if (contains(state->headerNames, key) && !contains(state->extractorHeaders, key))
                continue;
            base.emplace_back(name, item[py::int_(1)]);
        }
    }

    static const std::array<const char *, 5> crossOriginDropped = {
        "referer", "origin", "authorization", "proxy-authorization", "cookie"};

    py::object current = std::move(url);
    for (int attempt = 0; attempt < maxRequests; ++attempt) {
        const std::optional<py::tuple> here = requestOrigin(current);
        if (!here)
            throw py::value_error(invalidRedirect);

        const py::object scopedEntry = state->scopes.attr("get")(*here);
        const py::dict scoped = scopedEntry.is_none() ? py::dict() : py::dict(scopedEntry);
        py::dict headers;
        for (const auto &[name, value] : base) {
            if (!scoped.contains(lowered(name)))
                headers[name] = value;
        }
        for (const auto &[name, value] : scoped)
            headers[name] = value;

        py::object response = state->originalRequest(self, method, current, "headers"_a = headers, **kwargs);

        const long status = response.attr("status_code").cast<long>();
        if (!isRedirect(status))
            return response;
        const py::object location = response.attr("headers").attr("get")("location");
        if (location.is_none() || !py::bool_(location))
            return response;

        py::object next = state->urljoin(current, location);

        const std::optional<py::tuple> there = requestOrigin(next);
        if (!there || !there->equal(*here)) {
            dropHeaders(base, [](const py::str &key) {
                if (contains(state->headerNames, key))
                    return true;
                const std::string name = key.cast<std::string>();
                for (const char *dropped : crossOriginDropped) {
                    if (name == dropped)
                        return true;
                }
                return false;
            });
        }

        const std::string verb = py::str(method).cast<std::string>();
        if ((status == 303 && verb != "HEAD") || ((status == 301 || status == 302) && verb == "POST")) {
            method = py::str("GET");
            kwargs.attr("pop")("data", py::none());
            kwargs.attr("pop")("json", py::none());
            // The body is gone, so a length or type the caller declared for it would be wrong.
            dropHeaders(base, [](const py::str &key) {
                const std::string name = key.cast<std::string>();
                return name == "content-length" || name == "content-type";
            });
        }

        response.attr("close")();
        current = std::move(next);
    }
    throw py::value_error(tooManyRedirects);
}

py::module_::module_def definition;

void initialize(py::module_ &m)
{
    m.doc() = "Private, bundled adapter for the pinned yt-dlp/curl_cffi runtime.";

    const py::module_ json = py::module_::import("json");
    const py::module_ os = py::module_::import("os");
    const py::module_ parse = py::module_::import("urllib.parse");
    const py::object session = py::module_::import("curl_cffi.requests").attr("Session");
    const py::object postProcessor = py::module_::import("yt_dlp.postprocessor.common").attr("PostProcessor");

    // Importing the engine's post-processors loads its plug-ins, this module among them, when
    // it is on the import path. If that nested load already finished, take over its result
    // instead of wrapping the client a second time.
    const py::object loaded = py::module_::import("sys").attr("modules").attr("get")(m.attr("__name__"));
    if (!loaded.is_none() && !loaded.is(m) && py::hasattr(loaded, "KestroSessionGuardPP")) {
        for (const char *name : {"scopes", "header_names", "extractor_headers", "original_request", "origin",
                                 "scoped_request", "KestroSessionGuardPP"})
            m.attr(name) = loaded.attr(name);
        return;
    }

    // Any failure from here on propagates as the runtime's own exception and aborts the import.
    const py::object path = os.attr("environ")[py::str("KESTRO_SESSION_FILE")];
    const py::object document = [&] {
        const py::object file = py::module_::import("builtins").attr("open")(path, "encoding"_a = "utf-8");
        try {
            py::object parsed = json.attr("load")(file);
            file.attr("close")();
            return parsed;
        } catch (...) {
            file.attr("close")();
            throw;
        }
    }();

    auto built = std::make_unique<State>(
        State{parse.attr("urlsplit"), parse.attr("urljoin"), py::dict(), py::none(), py::none(), py::none()});
    State *const previous = std::exchange(state, built.get()); // origin() needs urlsplit
    try {
        py::dict scopes;
        for (const py::handle record : document[py::str("requests")]) {
            const py::object url = record[py::str("url")];
            const py::object recordHeaders = record[py::str("headers")];
            py::dict scoped;
            for (const py::handle item : recordHeaders.attr("items")())
                scoped[lowered(item[py::int_(0)])] = item[py::int_(1)];
            scopes[origin(url)] = scoped;
        }
        // From the final scopes: a record that another one replaced names nothing.
        py::set names;
        for (const auto &entry : scopes) {
            for (const auto &header : py::reinterpret_borrow<py::dict>(entry.second))
                names.add(header.first);
        }
        built->scopes = scopes;
        built->headerNames = py::frozenset(names);
        built->extractorHeaders =
            py::frozenset(py::make_tuple("referer", "origin", "user-agent", "accept", "accept-language"));
        built->originalRequest = session.attr("request");

        // yt-dlp only accepts plug-in classes whose __module__ names the plug-in module.
        const py::dict attributes;
        attributes["__doc__"] = "yt-dlp requires this class at startup for requests that use a browser session.";
        attributes["__module__"] = m.attr("__name__");
        const py::object guard =
            py::type::of(postProcessor)("KestroSessionGuardPP", py::make_tuple(postProcessor), attributes);

        m.attr("scopes") = built->scopes;
        m.attr("header_names") = built->headerNames;
        m.attr("extractor_headers") = built->extractorHeaders;
        m.attr("original_request") = built->originalRequest;
        m.def("origin", &origin, "url"_a);
        m.def("scoped_request", &scopedRequest, "self"_a, "method"_a, "url"_a);
        m.attr("KestroSessionGuardPP") = guard;

        // A builtin function is not a descriptor; wrap it so that it binds the session as self.
        const py::object bound =
            py::reinterpret_steal<py::object>(PyInstanceMethod_New(m.attr("scoped_request").ptr()));
        if (!bound)
            throw py::error_already_set();
        // Last step, so that a failed import leaves the client untouched.
        py::setattr(session, "request", bound);
    } catch (...) {
        state = previous;
        throw;
    }
    // Kept for the life of the process (see State).
    built.release();
}

} // namespace

// Written out instead of PYBIND11_MODULE, which would turn a failed import into an ImportError
// "initialization failed"; the engine should see the original error (no file, bad JSON, ...).
PYBIND11_PLUGIN_IMPL(websess)
{
    PYBIND11_CHECK_PYTHON_VERSION
    PYBIND11_ENSURE_INTERNALS_READY
    auto m = py::module_::create_extension_module("websess", nullptr, &definition);
    try {
        initialize(m);
        return m.ptr();
    } catch (py::error_already_set &error) {
        error.restore();
        return nullptr;
    } catch (const std::exception &error) {
        PyErr_SetString(PyExc_ImportError, error.what());
        return nullptr;
    }
}
