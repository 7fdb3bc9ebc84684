// The reload script, the snapshots of the output folder and the events that name what
// changed between two of them.
#include "serve/Reload.h"

#include <algorithm>

namespace tarvix::serve {
namespace {

// Folders nested deeper than this are not looked into; the site run writes none deeper.
constexpr std::size_t kMaxSnapshotDepth = 64;
// A snapshot holds at most this many files: a folder that large is no site to preview,
// and the comparison must stay bounded.
constexpr std::size_t kMaxSnapshotFiles = 1000000;

}  // namespace

// The script compares paths decoded, as the server's event names them encoded and the
// browser encodes its own URLs in its own way. A folder's URL stands for its index page.
// When only the page's own file changed, and neither page runs a script but this one, the
// new body is put in place of the old: no navigation, so the edit shows sooner and the
// reader keeps their place. A changed head, a script of the page's own (which may have
// worked on the body), a failed fetch or a change to anything else the page uses reloads it.
const std::string_view kReloadScript = R"JS((function () {
  if (!window.EventSource) return;
  var own = document.currentScript ? document.currentScript.textContent : null;
  function key(url) {
    try {
      var u = new URL(url, location.href);
      if (u.origin !== location.origin) return null;
      var p = decodeURIComponent(u.pathname);
      return p.endsWith("/") ? p + "index.html" : p;
    } catch (e) {
      return null;
    }
  }
  function onlyOwnScript(doc) {
    for (var i = 0; i < doc.scripts.length; i++)
      if (own === null || doc.scripts[i].textContent !== own) return false;
    return true;
  }
  function sameAttributes(a, b) {
    if (a.attributes.length !== b.attributes.length) return false;
    for (var i = 0; i < a.attributes.length; i++)
      if (b.getAttribute(a.attributes[i].name) !== a.attributes[i].value) return false;
    return true;
  }
  var source = new EventSource("/.tarvix/events");
  function reload() {
    source.close();
    location.reload();
  }
  // Two edits close together fetch twice; only the later answer may show.
  var fetches = 0;
  function refresh() {
    if (!window.fetch || !window.DOMParser || !onlyOwnScript(document)) return reload();
    var mine = ++fetches;
    fetch(location.href, { cache: "no-store" }).then(function (response) {
      if (!response.ok) throw new Error(response.status);
      return response.text();
    }).then(function (html) {
      if (mine !== fetches) return;
      var next = new DOMParser().parseFromString(html, "text/html");
      if (next.head.innerHTML !== document.head.innerHTML || !onlyOwnScript(next) ||
          !sameAttributes(next.documentElement, document.documentElement) ||
          next.title !== document.title)
        return reload();
      document.body.replaceWith(document.adoptNode(next.body));
    }).catch(reload);
  }
  source.onmessage = function (event) {
    var changed = event.data.split("\n").map(key);
    var self = key(location.href);
    var used = [];
    document.querySelectorAll("link[href]").forEach(function (e) { used.push(e.href); });
    document.querySelectorAll("[src]").forEach(function (e) { used.push(e.src); });
    // What the page loaded, its own new bodies aside.
    performance.getEntriesByType("resource").forEach(function (e) { used.push(e.name); });
    for (var i = 0; i < used.length; i++) {
      var k = key(used[i]);
      if (k !== null && k !== self && changed.indexOf(k) >= 0) return reload();
    }
    if (self !== null && changed.indexOf(self) >= 0) refresh();
  };
})();
)JS";

std::string EncodeUrlPath(std::string_view path) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || c == '/';
    if (plain) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    }
  }
  return out;
}

OutputSnapshot TakeSnapshot(const std::string& root, const std::string& skip) {
  OutputSnapshot snapshot;
  platform::FileStatus skipped;
  const bool skipping = !skip.empty() && platform::StatusOf(skip, &skipped) &&
                        skipped.kind == platform::FileKind::Folder;
  struct Pending {
    std::string relative;
    std::size_t depth;
  };
  std::vector<Pending> pending{{std::string(), 0}};
  while (!pending.empty() && snapshot.size() < kMaxSnapshotFiles) {
    const Pending folder = std::move(pending.back());
    pending.pop_back();
    std::vector<platform::FolderEntry> entries;
    std::string path = root;
    for (const char c : folder.relative)
      path.push_back(c == '/' ? platform::kPathSeparator : c);
    if (!platform::ListFolder(path, &entries))
      continue;
    for (const platform::FolderEntry& entry : entries) {
      if (entry.name.empty() || entry.name[0] == '.')
        continue;
      const std::string relative = folder.relative + "/" + entry.name;
      if (entry.kind == platform::EntryKind::Folder && !entry.link &&
          folder.depth < kMaxSnapshotDepth) {
        platform::FileStatus status;
        if (skipping && platform::StatusOf(path + platform::kPathSeparator + entry.name, &status) &&
            status.device == skipped.device && status.inode == skipped.inode)
          continue;
        pending.push_back({relative, folder.depth + 1});
      } else if (entry.kind == platform::EntryKind::File) {
        snapshot[relative] = platform::StampOf(path + platform::kPathSeparator + entry.name);
      }
    }
  }
  return snapshot;
}

std::vector<std::string> UrlPathsOf(std::vector<std::string> outputs) {
  std::sort(outputs.begin(), outputs.end());
  outputs.erase(std::unique(outputs.begin(), outputs.end()), outputs.end());
  std::vector<std::string> paths;
  paths.reserve(outputs.size());
  for (const std::string& output : outputs)
    paths.push_back(EncodeUrlPath("/" + output));
  return paths;
}

std::string ReloadEvent(const std::vector<std::string>& paths) {
  std::string event;
  for (const std::string& path : paths)
    event.append("data: ").append(path).append("\n");
  if (paths.empty())
    event.append("data:\n");
  event.append("\n");
  return event;
}

}  // namespace tarvix::serve
