       COPY ABC.
