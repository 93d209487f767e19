-- skladba lsp with Neovim as its client: attach to a score, wait for the
-- check's warnings, ask for a hover and the octave hints, edit the buffer
-- and wait for the warning to go. Exits 0 when all held, 1 otherwise,
-- saying what failed.
local skladba, registers, score = os.getenv('SKLADBA'), os.getenv('REGISTERS'), os.getenv('SCORE')

local function fail(what)
  io.stderr:write('neovim test: ' .. what .. '\n')
  vim.cmd('cquit 1')
end

vim.cmd('edit ' .. vim.fn.fnameescape(score))
local buf = vim.api.nvim_get_current_buf()
local id = vim.lsp.start_client({
  name = 'skladba',
  cmd = { skladba, 'lsp', '--registers', registers },
  root_dir = vim.fn.fnamemodify(score, ':h'),
})
if not id then fail('the client did not start') end
vim.lsp.buf_attach_client(buf, id)

local deadline = 60000
if not vim.wait(deadline, function() return #vim.diagnostic.get(buf) > 0 end, 20) then
  fail('no diagnostics came')
end
local d = vim.diagnostic.get(buf)[1]
if d.lnum ~= 0 or d.col ~= 9 or not d.message:find('"fis" is not one note', 1, true) then
  fail('unexpected diagnostic: ' .. vim.inspect(d))
end

local uri = vim.uri_from_bufnr(buf)
local hover = vim.lsp.buf_request_sync(buf, 'textDocument/hover',
  { textDocument = { uri = uri }, position = { line = 0, character = 3 } }, deadline)
local text = hover and hover[id] and hover[id].result and hover[id].result.contents.value or ''
if not text:find('C4', 1, true) or not text:find('o1 c', 1, true) then
  fail('unexpected hover: ' .. vim.inspect(hover))
end

local hints = vim.lsp.buf_request_sync(buf, 'textDocument/inlayHint',
  { textDocument = { uri = uri }, range = { start = { line = 0, character = 0 }, ['end'] = { line = 1, character = 0 } } },
  deadline)
local labels = {}
for _, h in ipairs(hints and hints[id] and hints[id].result or {}) do table.insert(labels, h.label) end
if table.concat(labels, ' ') ~= '⁴ ⁴ ⁴ ⁴ ⁴ ⁴ ⁵' then fail('unexpected hints: ' .. vim.inspect(labels)) end

-- The edit goes to the server as a change of the buffer; fis becomes >f.
vim.api.nvim_buf_set_text(buf, 0, 9, 0, 12, { '>f' })
if not vim.wait(deadline, function() return #vim.diagnostic.get(buf) == 0 end, 20) then
  fail('the warning stayed after the edit: ' .. vim.inspect(vim.diagnostic.get(buf)))
end

vim.lsp.stop_client(id)
vim.cmd('qa!')
