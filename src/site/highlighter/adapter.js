// The pages load this file as the highlighter's core, then a script per brush, then call
// SyntaxHighlighter.all(). The library's core comes before this adapter and each brush's
// script registers the library's languages for it; here every pre whose class names a
// brush ("brush: NAME;") is coloured as the language that brush stands for.
(function () {
  "use strict";
  var brushes = /*BRUSHES*/;
  var here = document.currentScript && document.currentScript.src;
  var folder = here ? here.replace(/scripts\/[^\/]*$/, "") : "";

  // The colours sit beside the scripts, so a template need not name them.
  if (folder) {
    var sheet = document.createElement("link");
    sheet.rel = "stylesheet";
    sheet.href = folder + "styles/shColours.css";
    (document.head || document.documentElement).appendChild(sheet);
  }

  function colour(pre) {
    var named = /(?:^|[\s;])brush:\s*([^;\s]+)/i.exec(pre.className);
    if (!named)
      return;
    var language = brushes[named[1].toLowerCase()];
    if (!language || !window.hljs || !hljs.getLanguage(language))
      return;
    var result = hljs.highlight(language, pre.textContent, true);
    pre.innerHTML = result.value;
    pre.classList.add("hljs", language);
  }

  function colourAll() {
    var blocks = document.getElementsByTagName("pre");
    for (var i = 0; i < blocks.length; i++)
      colour(blocks[i]);
  }

  window.SyntaxHighlighter = {
    brushes: brushes,
    all: function () {
      if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", colourAll);
      else
        colourAll();
    }
  };
})();
