// Adds "Find Using Vandrel Shopper" to the context menu of selected text; choosing it opens
// "shop:new <selected text>", which the desktop hands to Vandrel Shopper (registered with
// "vandrel-shopper-cli integration install").
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const MENU_ID = "vandrel-shopper-find";
const MAX_TEXT = 200;  // a selection is a title or a few words; a whole page is not a search

// Collapses white space and drops control characters: the text becomes one line of the command.
function searchText(selection) {
  return (selection || "")
    .replace(/[\u0000-\u001f\u007f]+/g, " ")
    .replace(/\s+/g, " ")
    .trim()
    .slice(0, MAX_TEXT);
}

function shopAddress(selection) {
  const text = searchText(selection);
  return text ? "shop:new " + text : "";
}

// Menus persist across restarts of the background page, so they are made once per installation.
api.runtime.onInstalled.addListener(() => {
  api.contextMenus.removeAll(() => {
    api.contextMenus.create({id: MENU_ID, title: "Find Using Vandrel Shopper", contexts: ["selection"]});
  });
});

api.contextMenus.onClicked.addListener((info, tab) => {
  if (info.menuItemId !== MENU_ID) return;
  const address = shopAddress(info.selectionText);
  if (!address) return;
  // The browser asks the desktop for the "shop" handler and may ask the user to allow it once.
  if (tab && tab.id !== undefined && tab.id >= 0) {
    api.tabs.update(tab.id, {url: address});
  } else {
    api.tabs.create({url: address});
  }
});

if (typeof module !== "undefined") module.exports = {searchText, shopAddress};
