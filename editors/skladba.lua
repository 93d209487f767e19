-- skladba in Neovim (0.7 and later): `skladba lsp` for every score, the
-- octave of each note the relative rule places drawn after it, and keys
-- for hover, quick fixes and the server's commands.
--
-- Load it from init.lua, with the command when skladba is not installed:
--   dofile('/path/to/skladba/editors/skladba.lua').setup({
--     cmd = { '/path/to/build/skladba', 'lsp', '--registers', '/path/to/build/work/rejstriky' } })
--
-- A score is a .skl file, aktualni.txt, or a .txt file beside a rejstriky/
-- folder; `:set filetype=skladba` makes any buffer one.
local M = { cmd = { 'skladba', 'lsp' } }

local client
local hints = vim.api.nvim_create_namespace('skladba-octaves')
local inline = vim.fn.has('nvim-0.10') == 1

-- Before 0.10 Neovim draws no inlay hints: each is laid over the blank
-- after its note (notes written without a space between keep none).
local function draw(buf, result)
  vim.api.nvim_buf_clear_namespace(buf, hints, 0, -1)
  for _, h in ipairs(result or {}) do
    local line = vim.api.nvim_buf_get_lines(buf, h.position.line, h.position.line + 1, false)[1]
    if line then
      local col = vim.str_byteindex(line, h.position.character, true)
      local next = line:sub(col + 1, col + 1)
      if next == '' or next:match('%s') then
        vim.api.nvim_buf_set_extmark(buf, hints, h.position.line, col,
          { virt_text = { { h.label, 'Comment' } }, virt_text_pos = 'overlay' })
      end
    end
  end
end

local function refresh(buf)
  local params = { textDocument = vim.lsp.util.make_text_document_params(buf),
                   range = { start = { line = 0, character = 0 },
                             ['end'] = { line = vim.api.nvim_buf_line_count(buf), character = 0 } } }
  -- Asked of the client itself: Neovim before 0.10 does not know the method.
  local c = client and vim.lsp.get_client_by_id(client)
  if not c then return end
  c.request('textDocument/inlayHint', params, function(err, result)
    if not err and vim.api.nvim_buf_is_valid(buf) then draw(buf, result) end
  end, buf)
end

local function command(name, with_cursor)
  return function()
    local args = { vim.uri_from_bufnr(0) }
    if with_cursor then table.insert(args, vim.lsp.util.make_position_params().position) end
    vim.lsp.buf.execute_command({ command = name, arguments = args })
  end
end

local function attach(buf)
  if not client or vim.lsp.client_is_stopped(client) then
    client = vim.lsp.start_client({ name = 'skladba', cmd = M.cmd, root_dir = vim.fn.getcwd() })
  end
  if not client then return end
  vim.lsp.buf_attach_client(buf, client)
  local map = function(keys, fn) vim.keymap.set('n', keys, fn, { buffer = buf }) end
  map('K', vim.lsp.buf.hover)
  map('<localleader>a', vim.lsp.buf.code_action)
  map('<localleader>r', command('skladba.render'))
  map('<localleader>p', command('skladba.play', true))
  map('<localleader>s', command('skladba.serve'))
  if inline then
    vim.lsp.inlay_hint.enable(true, { bufnr = buf })
  else
    -- Each analysis publishes its diagnostics: the octaves follow them.
    vim.api.nvim_create_autocmd('DiagnosticChanged', { buffer = buf, callback = function() refresh(buf) end })
  end
end

function M.setup(options)
  M.cmd = (options or {}).cmd or M.cmd
  local group = vim.api.nvim_create_augroup('skladba', { clear = true })
  vim.api.nvim_create_autocmd({ 'BufRead', 'BufNewFile' }, { group = group, pattern = { '*.skl', '*.txt' },
    callback = function(a)
      local name = vim.api.nvim_buf_get_name(a.buf)
      if name:match('%.skl$') or vim.fn.fnamemodify(name, ':t') == 'aktualni.txt'
          or vim.fn.isdirectory(vim.fn.fnamemodify(name, ':h') .. '/rejstriky') == 1 then
        vim.bo[a.buf].filetype = 'skladba'
      end
    end })
  vim.api.nvim_create_autocmd('FileType', { group = group, pattern = 'skladba',
    callback = function(a) attach(a.buf) end })
  return M
end

return M
