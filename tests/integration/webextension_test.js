// Runs the extension's background script against a fake browser API: the menu entry, and the address a
// click opens.
"use strict";
const assert = require("assert");
const path = require("path");
const fs = require("fs");

const listeners = {};
const created = [];
const opened = [];
globalThis.browser = {
  runtime: {onInstalled: {addListener: (f) => (listeners.installed = f)}},
  contextMenus: {
    removeAll: (done) => done(),
    create: (item) => created.push(item),
    onClicked: {addListener: (f) => (listeners.clicked = f)},
  },
  tabs: {
    update: (id, props) => opened.push([id, props.url]),
    create: (props) => opened.push(["new", props.url]),
  },
};
const folder = process.argv[2];
const {searchText} = require(path.join(folder, "background.js"));

listeners.installed();
assert.deepStrictEqual(created, [{id: "vandrel-shopper-find", title: "Find Using Vandrel Shopper", contexts: ["selection"]}]);

listeners.clicked({menuItemId: "vandrel-shopper-find", selectionText: "  harry\n potter\t\u0007 "}, {id: 7});
listeners.clicked({menuItemId: "vandrel-shopper-find", selectionText: "   "}, {id: 7});
listeners.clicked({menuItemId: "other", selectionText: "x"}, {id: 7});
listeners.clicked({menuItemId: "vandrel-shopper-find", selectionText: "glass"}, undefined);
assert.deepStrictEqual(opened, [[7, "shop:new harry potter"], ["new", "shop:new glass"]]);
assert.strictEqual(searchText("x".repeat(500)).length, 200);

const manifest = JSON.parse(fs.readFileSync(path.join(folder, "manifest.json"), "utf8"));
assert.strictEqual(manifest.manifest_version, 3);
for (const size of Object.keys(manifest.icons)) assert.ok(fs.existsSync(path.join(folder, manifest.icons[size])));
console.log("webextension: ok");
