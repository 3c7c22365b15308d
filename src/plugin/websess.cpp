// yt-dlp plug-in that keeps browser-session headers on the origins they were captured for.
// yt-dlp imports it as yt_dlp_plugins.postprocessor.websess; the post-processor only triggers
// the import. The work happens wherever the engine's requests leave: curl_cffi's
// Session.request when curl_cffi is there, requests' Session.request when the engine uses it,
// and the urllib handler's opener otherwise. Each of them sends one hop at a time and this
// module follows the redirects itself.
#include <pybind11/pybind11.h>

#include <array>
#include <functional>
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
    py::object originalRequest; // curl_cffi's, or None without curl_cffi
    py::object refusal;         // the error type of a refused request
    py::object urllibRequest;
    py::object urllibHTTPError;
};
State *state = nullptr;

// The engine retries a request through another handler after any error that is not one of
// its request errors, and that handler would follow the refused redirect by itself. So a
// refusal is a request error (final for that request) and still a ValueError.
[[noreturn]] void refuse(const char *message)
{
    const py::object error = state->refusal(message);
    PyErr_SetObject(state->refusal.ptr(), error.ptr());
    throw py::error_already_set();
}

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

// Sends one hop: method, address, the hop's headers and the remaining keyword arguments.
using HopSender = std::function<py::object(const py::object &, const py::object &, const py::dict &, const py::dict &)>;

long statusOf(const py::object &response)
{
    // Session clients answer with status_code, urllib with status.
    if (py::hasattr(response, "status_code"))
        return response.attr("status_code").cast<long>();
    return response.attr("status").cast<long>();
}

py::object followScoped(py::object method, py::object url, const py::object &callerHeaders, const py::dict &kwargs,
                        const HopSender &send)
{
    HeaderList base;
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
            refuse(invalidRedirect);

        const py::object scopedEntry = state->scopes.attr("get")(*here);
        const py::dict scoped = scopedEntry.is_none() ? py::dict() : py::dict(scopedEntry);
        py::dict headers;
        for (const auto &[name, value] : base) {
            if (!scoped.contains(lowered(name)))
                headers[name] = value;
        }
        for (const auto &[name, value] : scoped)
            headers[name] = value;

        py::object response = send(method, current, headers, kwargs);

        const long status = statusOf(response);
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
    refuse(tooManyRedirects);
}

// A session client's request method (curl_cffi and requests share its form).
py::object sessionRequest(const py::object &original, py::object self, py::object method, py::object url,
                          const py::kwargs &callerOptions)
{
    // A copy: the caller's dictionary may be shared with it.
    const py::dict kwargs = callerOptions.attr("copy")();
    kwargs["allow_redirects"] = false;
    const py::object callerHeaders = kwargs.attr("pop")("headers", py::none());
    return followScoped(std::move(method), std::move(url), callerHeaders, kwargs,
                        [&](const py::object &m, const py::object &u, const py::dict &headers, const py::dict &rest) {
                            return original(self, m, u, "headers"_a = headers, **rest);
                        });
}

py::object scopedRequest(py::object self, py::object method, py::object url, const py::kwargs &callerOptions)
{
    return sessionRequest(state->originalRequest, std::move(self), std::move(method), std::move(url), callerOptions);
}

bool isWebAddress(const py::object &url)
{
    try {
        const std::string scheme = py::str(state->urlsplit(url).attr("scheme")).cast<std::string>();
        return scheme == "http" || scheme == "https";
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError))
            throw;
        return true; // refused by the loop with the usual message
    }
}

// The urllib handler's opener.open(request, ...): each hop is a new urllib request that the
// opener must not redirect (see the redirect handler below); a redirect answer arrives as
// urllib's HTTPError and is followed here.
py::object guardedOpen(const py::object &originalOpen, const py::object &request, const py::args &args,
                       const py::kwargs &options)
{
    if (!py::isinstance(request, state->urllibRequest) || !isWebAddress(request.attr("full_url")))
        return originalOpen(request, *args, **options);
    const py::dict kwargs;
    if (!request.attr("data").is_none())
        kwargs["data"] = request.attr("data");
    const py::object response = followScoped(
        request.attr("get_method")(), request.attr("full_url"), py::dict(request.attr("header_items")()), kwargs,
        [&](const py::object &m, const py::object &u, const py::dict &headers, const py::dict &rest) -> py::object {
            const py::object hop = state->urllibRequest(u, "data"_a = rest.attr("get")("data"), "headers"_a = headers,
                                                        "method"_a = m);
            hop.attr("_kestro_one_hop") = true;
            try {
                return originalOpen(hop, *args, **options);
            } catch (py::error_already_set &error) {
                if (!error.matches(state->urllibHTTPError))
                    throw;
                const py::object answer = error.value();
                if (!isRedirect(answer.attr("code").cast<long>()))
                    throw;
                return answer;
            }
        });
    if (py::isinstance(response, state->urllibHTTPError)) {
        // A redirect without a location: the error urllib would have raised.
        PyErr_SetObject(state->urllibHTTPError.ptr(), response.ptr());
        throw py::error_already_set();
    }
    return response;
}

// Sets a class attribute to a function that binds the instance as its first argument.
void setMethod(const py::object &cls, const char *name, const py::object &function)
{
    const py::object bound = py::reinterpret_steal<py::object>(PyInstanceMethod_New(function.ptr()));
    if (!bound)
        throw py::error_already_set();
    py::setattr(cls, name, bound);
}

// The engine's urllib handler: its openers send one hop per request marked by guardedOpen.
void guardUrllib(const py::module_ &handlers)
{
    const py::object handler = handlers.attr("UrllibRH");
    const py::object redirects = handlers.attr("RedirectHandler");
    const py::object createInstance = handler.attr("_create_instance");
    const py::object redirectRequest = redirects.attr("redirect_request");
    setMethod(handler, "_create_instance",
              py::cpp_function([createInstance](const py::object &self, const py::args &args, const py::kwargs &kwargs) {
                  const py::object opener = createInstance(self, *args, **kwargs);
                  const py::object open = opener.attr("open");
                  opener.attr("open") = py::cpp_function(
                      [open](const py::object &request, const py::args &rest, const py::kwargs &options) {
                          return guardedOpen(open, request, rest, options);
                      });
                  return opener;
              }));
    setMethod(redirects, "redirect_request",
              py::cpp_function([redirectRequest](const py::object &self, const py::object &request, const py::args &args) {
                  if (py::bool_(py::getattr(request, "_kestro_one_hop", py::bool_(false))))
                      return py::object(py::none());
                  return redirectRequest(self, request, *args);
              }));
}

py::module_::module_def definition;

void initialize(py::module_ &m)
{
    m.doc() = "Private, bundled adapter for the pinned yt-dlp/curl_cffi runtime.";

    const py::module_ json = py::module_::import("json");
    const py::module_ os = py::module_::import("os");
    const py::module_ parse = py::module_::import("urllib.parse");
    const py::object postProcessor = py::module_::import("yt_dlp.postprocessor.common").attr("PostProcessor");
    const py::object requestError = py::module_::import("yt_dlp.networking.exceptions").attr("RequestError");
    const py::module_ urllibHandlers = py::module_::import("yt_dlp.networking._urllib");
    const py::module_ urllibRequest = py::module_::import("urllib.request");
    const py::object urllibHTTPError = py::module_::import("urllib.error").attr("HTTPError");
    // Optional clients: curl_cffi (impersonation) and requests (when the engine can use it).
    const auto optionalImport = [](const char *module, const char *name) -> py::object {
        try {
            return py::module_::import(module).attr(name);
        } catch (py::error_already_set &error) {
            if (!error.matches(PyExc_ImportError))
                throw;
            return py::none();
        }
    };
    const py::object session = optionalImport("curl_cffi.requests", "Session");
    const py::object requestsSession =
        optionalImport("yt_dlp.networking._requests", "RequestsRH").is_none() ? py::object(py::none())
                                                                               : optionalImport("requests", "Session");

    // Importing the engine's post-processors loads its plug-ins, this module among them, when
    // it is on the import path. If that nested load already finished, take over its result
    // instead of wrapping the client a second time.
    const py::object loaded = py::module_::import("sys").attr("modules").attr("get")(m.attr("__name__"));
    if (!loaded.is_none() && !loaded.is(m) && py::hasattr(loaded, "KestroSessionGuardPP")) {
        for (const char *name : {"scopes", "header_names", "extractor_headers", "original_request", "origin",
                                 "scoped_request", "KestroSessionGuardPP", "SessionRequestRefused"})
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

    auto built = std::make_unique<State>(State{parse.attr("urlsplit"), parse.attr("urljoin"), py::dict(), py::none(),
                                               py::none(), py::none(), py::none(), urllibRequest.attr("Request"),
                                               urllibHTTPError});
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
        built->originalRequest = session.is_none() ? py::object(py::none()) : session.attr("request");
        const py::dict refusalAttributes;
        refusalAttributes["__doc__"] = "A request that the browser session does not allow.";
        refusalAttributes["__module__"] = m.attr("__name__");
        built->refusal = py::type::of(requestError)("SessionRequestRefused",
                                                     py::make_tuple(requestError, py::handle(PyExc_ValueError)),
                                                     refusalAttributes);

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
        m.attr("SessionRequestRefused") = built->refusal;

        // Last steps, so that a failed import leaves the clients untouched. A builtin
        // function is not a descriptor; setMethod wraps it so that it binds the session.
        if (!requestsSession.is_none()) {
            const py::object original = requestsSession.attr("request");
            setMethod(requestsSession, "request",
                      py::cpp_function(
                          [original](py::object self, py::object method, py::object url, const py::kwargs &kwargs) {
                              return sessionRequest(original, std::move(self), std::move(method), std::move(url),
                                                    kwargs);
                          },
                          "self"_a, "method"_a, "url"_a));
        }
        guardUrllib(urllibHandlers);
        if (!session.is_none())
            setMethod(session, "request", m.attr("scoped_request"));
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
