#include "static_assets.h"

const char kStyleSheet[] = R"CSS(
body { font-family: system-ui, sans-serif; margin: 0; color: #1b1b1b; background: #fafafa; }
main { padding: 1rem 1.5rem; }
h1 { font-size: 1.3rem; margin: 0 0 .8rem; }
a { color: #0645ad; }
a:focus, input:focus, tr:focus-within { outline: 2px solid #e07b00; outline-offset: 1px; }
table.list { border-collapse: collapse; font-size: .9rem; }
table.list th, table.list td { border-bottom: 1px solid #ddd; padding: .2rem .5rem; text-align: left; white-space: pre; }
table.list td.n { text-align: right; font-variant-numeric: tabular-nums; }
table.list thead input { width: 100%; min-width: 4rem; box-sizing: border-box; font: inherit; }
tr.progress { display: none; }
tr.progress:last-child { display: table-row; color: #666; font-style: italic; }
tr.progress td { white-space: normal; }
nav.pages { margin: .8rem 0; display: flex; gap: 1.2rem; align-items: center; }
p.summary { color: #555; }
fieldset.lines { margin: .6rem 0; border: 1px solid #ccc; }
fieldset.lines label { margin-right: .8rem; white-space: nowrap; }
fieldset.lines input { width: 8rem; }
pre.screen { background: #10204a; color: #d8e0ff; padding: 1rem; display: inline-block; line-height: 1.35; font-size: .95rem; }
pre.screen span.f { color: #fff3b0; background: #1c3170; }
p.detail { font-family: monospace; }
)CSS";

const char kKeyboardScript[] = R"JS(
'use strict';
(function () {
  function rows() { return Array.prototype.slice.call(document.querySelectorAll('a.doc')); }
  function follow(rel) {
    var link = document.querySelector('a[rel="' + rel + '"]');
    if (link) link.click();
  }
  function move(step) {
    var links = rows();
    if (links.length === 0) return;
    var at = links.indexOf(document.activeElement);
    var next = at < 0 ? (step > 0 ? 0 : links.length - 1) : Math.min(links.length - 1, Math.max(0, at + step));
    links[next].focus();
  }
  document.addEventListener('keydown', function (e) {
    if (e.ctrlKey || e.altKey || e.metaKey) return;
    var typing = e.target && (e.target.tagName === 'INPUT' || e.target.tagName === 'TEXTAREA');
    if (typing) {
      if (e.key === 'Escape') e.target.blur();
      return;
    }
    var doc = document.body.classList.contains('document');
    if (e.key === '/') {
      var box = document.querySelector('input[type="search"]');
      if (box) { e.preventDefault(); box.focus(); }
    } else if (e.key === 'j' || e.key === 'ArrowDown') {
      if (rows().length) { e.preventDefault(); move(1); }
    } else if (e.key === 'k' || e.key === 'ArrowUp') {
      if (rows().length) { e.preventDefault(); move(-1); }
    } else if (e.key === 'n' || (doc && e.key === 'ArrowRight')) {
      follow('next');
    } else if (e.key === 'p' || (doc && e.key === 'ArrowLeft')) {
      follow('prev');
    } else if (e.key === 'u' && doc) {
      follow('up');
    }
  });
})();
)JS";
