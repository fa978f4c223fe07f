       COPY M.
